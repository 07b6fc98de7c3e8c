"""A FIFO named on the command line: a program of its own, as each test
process has one accessibility bus."""

from desktop import *
from test_files import FileTest


class Fifo(FileTest):
    # A FIFO without a writer must not hold the program up.
    FILE = ("pipe.nsd", None)

    def test_the_error_box_and_an_empty_list(self):
        _, text = self.error_box()
        self.assertIn("pipe.nsd", text)
        self.assertIn("named pipe", text)
        self.close_box()
        self.assertEqual(self.p.list_items(), [])
