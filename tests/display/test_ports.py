"""Entries that name a port, run as a user runs them: a TCP Check One, a
TCP trace and a UDP check of a closed port, with a service listening on the
far host while the group runs."""

import subprocess
import sys

from desktop import *

SERVICE = r"""
import socket, sys
s = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("::", 7443))
s.listen(16)
print("listening", flush=True)
while True:
    c, _ = s.accept()
    c.close()
"""
# Names of answering nodes are not looked up unless asked for.
CLOSING = ["", "", r"Stats: Rcvd/Sent: 1/1, Min/Avg/Max: \d+/\d+/\d+", "",
           r"IP Address: 10\.61\.4\.2", r"Destination: far\.nsd\.test", None]


def closing(last):
    return [last if line is None else line for line in CLOSING]


class Ports(ProgramTest):

    @classmethod
    def setUpClass(cls):
        cls.service = subprocess.Popen(
            ["ip", "netns", "exec", os.environ["NETSONDE_FAR_NAMESPACE"], sys.executable, "-c",
             SERVICE], stdout=subprocess.PIPE, text=True)
        assert cls.service.stdout.readline().strip() == "listening"
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.service.kill()
        cls.service.wait()

    def show(self, title, lines):
        print("\n--- %s ---\n%s" % (title, "\n".join(lines)), flush=True)

    def test_1_tcp_check_one_says_connected(self):
        self.add_hosts(["far.nsd.test:7443", "far.nsd.test:7009/udp"])
        self.assertEqual(self.p.list_items(), ["far.nsd.test:7009/udp", "far.nsd.test:7443"])
        self.type_into("Time to wait for packet return, in Milliseconds", "500")
        click(self.p.item("far.nsd.test:7443"))
        lines = self.run_command("alt+o")
        self.show("TCP Check One", lines)
        self.assertLines(lines, [r"connected to 10\.61\.4\.2:7443\. time = \d+ms"] +
                         closing(r"Return Name: 10\.61\.4\.2"))
        self.shot("ports-tcp-check-one")

    def test_2_udp_check_of_a_closed_port_is_an_answer(self):
        click(self.p.item("far.nsd.test:7009/udp"))
        lines = self.run_command("alt+o")
        self.show("UDP Check One", lines)
        self.assertLines(lines, [r"port unreachable from 10\.61\.4\.2:7009/udp\. time = \d+ms"] +
                         closing(r"Return Name: 10\.61\.4\.2"))

    def test_3_tcp_trace_meets_each_router_then_the_service(self):
        click(self.p.item("far.nsd.test:7443"))
        lines = self.run_command("alt+t")
        self.show("TCP Trace", lines)
        self.assertLines(lines[:4], [r"1\t\d+\t10\.61\.1\.1", r"2\t\d+\t10\.61\.2\.2",
                                     r"3\t\d+\t10\.61\.3\.2",
                                     r"4\t\d+\t10\.61\.4\.2\tconnected"])
        self.assertIn("10.61.4.2 reached in 4 hops.", lines)
        self.shot("ports-tcp-trace")


if __name__ == "__main__":
    unittest.main(verbosity=2)
