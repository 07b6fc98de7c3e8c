#include "echo/AxIcmp.h"

QString IcmpStatusText(int code) {
    switch (code) {
    case 0:
        return QStringLiteral("Success");
    case 11001:
        return QStringLiteral("Buffer too small");
    case 11002:
        return QStringLiteral("Destination net unreachable");
    case 11003:
        return QStringLiteral("Destination host unreachable");
    case 11004:
        return QStringLiteral("Destination protocol unreachable");
    case 11005:
        return QStringLiteral("Destination port unreachable");
    case 11006:
        return QStringLiteral("No resources");
    case 11007:
        return QStringLiteral("Bad Option");
    case 11008:
        return QStringLiteral("Hardware Error");
    case 11009:
        return QStringLiteral("Packet too big");
    case 11010:
        return QStringLiteral("Request timed out");
    case 11011:
        return QStringLiteral("Bad request");
    case 11012:
        return QStringLiteral("Bad route");
    case 11013:
        return QStringLiteral("TTL expired in transit");
    case 11014:
        return QStringLiteral("TTL expired in reassembly");
    case 11015:
        return QStringLiteral("Parameter problem");
    case 11016:
        return QStringLiteral("Source quench");
    case 11017:
        return QStringLiteral("Option too big");
    case 11018:
        return QStringLiteral("Bad destination");
    case 11019:
        return QStringLiteral("Address deleted");
    case 11020:
        return QStringLiteral("Spec MTU change");
    case 11021:
        return QStringLiteral("MTU change");
    case 11022:
        return QStringLiteral("Unload");
    case 11050:
        return QStringLiteral("General failure");
    default:
        return {};
    }
}
