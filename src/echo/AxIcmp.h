#pragma once

#include <QString>

// The text of an ICMP status code; empty for a code without one.
QString IcmpStatusText(int code);
