#!/usr/bin/env python3
"""Tests of check-layers.py: small trees in a scratch folder, each with one fault, and the tree itself."""
import importlib.util
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
LOADER = importlib.util.spec_from_file_location("check_layers", HERE / "check-layers.py")
layers = importlib.util.module_from_spec(LOADER)
LOADER.loader.exec_module(layers)

CMAKE = """
function(qor_layer name below)
  add_library(${name} STATIC ${ARGN})
  target_link_libraries(${name} PUBLIC ${below})
endfunction()
# core
qor_layer(qor_core "Threads::Threads;${CMAKE_DL_LIBS}"
  runtime/Text.cpp
  runtime/Text.hpp
  errors/Kinds.hpp
  socket/Stack.cpp
  socket/Stack.hpp)
qor_layer(qor_transport qor_core
  socket/Handler.cpp
  socket/Handler.hpp)
add_executable(tool
  frontend/main.cpp)
target_link_libraries(tool PRIVATE qor_transport)
add_executable(demo demo/demo.cpp)
target_link_libraries(demo PRIVATE qor_core)
"""

FILES = {
    "runtime/Text.hpp": "",
    "runtime/Text.cpp": '#include "qorclnt/runtime/Text.hpp"\n',
    "errors/Kinds.hpp": '#include "qorclnt/runtime/Text.hpp"\n',
    "socket/Stack.hpp": '#include "qorclnt/errors/Kinds.hpp"\n',
    "socket/Stack.cpp": '#include "qorclnt/socket/Stack.hpp"\n#include <vector>\n',
    "socket/Handler.hpp": '#include "qorclnt/socket/Stack.hpp"\n',
    "socket/Handler.cpp": '#include "qorclnt/socket/Handler.hpp"\n',
    "frontend/main.cpp": '#include <qorclnt/socket/Handler.hpp>\n#include "qorclnt/runtime/Text.hpp"\n',
    "demo/demo.cpp": '#include "qorclnt/socket/Stack.hpp"\n',
}


class LayerCheckTest(unittest.TestCase):
    def run_check(self, cmake=CMAKE, changes=None):
        """check() over a scratch tree of FILES with the given changes (None content removes a file)."""
        files = dict(FILES, **(changes or {}))
        with tempfile.TemporaryDirectory() as tree:
            Path(tree, "CMakeLists.txt").write_text(cmake)
            for name, text in files.items():
                if text is not None:
                    Path(tree, name).parent.mkdir(parents=True, exist_ok=True)
                    Path(tree, name).write_text(text)
            return layers.check(tree)

    def test_a_sound_tree_passes_with_every_file_counted(self):
        present, faults = self.run_check()
        self.assertEqual(faults, [])
        self.assertEqual(len(present), len(FILES))

    def test_a_file_in_no_target_or_in_two_fails(self):
        _, faults = self.run_check(changes={"socket/Options.cpp": "", "socket/Options.hpp": ""})
        self.assertEqual(faults, ["socket/Options.cpp: belongs to no target", "socket/Options.hpp: belongs to no target"])
        twice = CMAKE.replace("  socket/Handler.hpp)", "  socket/Handler.hpp\n  socket/Stack.cpp)")
        _, faults = self.run_check(cmake=twice)
        self.assertEqual(faults, ["socket/Stack.cpp: belongs to more than one target: qor_core qor_transport"])

    def test_an_upward_or_sideways_include_fails(self):
        _, faults = self.run_check(changes={"socket/Stack.cpp": '#include "qorclnt/socket/Handler.hpp"\n'})
        self.assertEqual(faults, ["socket/Stack.cpp: includes socket/Handler.hpp of qor_transport, above its own qor_core"])
        # The demo links only the core, so the transport is above it, though it is a program.
        _, faults = self.run_check(changes={"demo/demo.cpp": '#include <qorclnt/socket/Handler.hpp>\n'})
        self.assertEqual(faults, ["demo/demo.cpp: includes socket/Handler.hpp of qor_transport, above its own demo"])

    def test_runtime_and_errors_include_nothing_above_them_in_their_layer(self):
        _, faults = self.run_check(changes={"runtime/Text.cpp": '#include "qorclnt/errors/Kinds.hpp"\n'})
        self.assertEqual(faults, ["runtime/Text.cpp: includes errors/Kinds.hpp; runtime/ includes only runtime/"])
        _, faults = self.run_check(changes={"errors/Kinds.hpp": '#include "qorclnt/socket/Stack.hpp"\n'})
        self.assertEqual(faults, ["errors/Kinds.hpp: includes socket/Stack.hpp; errors/ includes only runtime/, errors/"])

    def test_a_socket_or_syscall_call_outside_the_stack_fails(self):
        stack = "int f(int s) { return ::recv(s, 0, 0, 0) + syscall (1) + ::connect(s, 0, 0); }\n"
        _, faults = self.run_check(changes={"socket/Stack.cpp": stack})
        self.assertEqual(faults, [])
        _, faults = self.run_check(changes={"runtime/Text.cpp": "long n = ::syscall(0, 1);\n",
                                            "socket/Handler.cpp": "void g(int s) { send(s, 0, 0, 0); }\n"})
        self.assertEqual(faults, [
            "runtime/Text.cpp: calls syscall; only the socket stack calls the system's socket functions",
            "socket/Handler.cpp: calls send; only the socket stack calls the system's socket functions"])
        # The console's direct write is the one syscall outside the stack; a socket call there still fails.
        console = CMAKE.replace("runtime/Text.cpp", "runtime/Text.cpp runtime/Console.cpp")
        _, faults = self.run_check(console, {"runtime/Console.cpp": "long w = syscall(1, 1); int r = recv(0, 0, 0, 0);\n"})
        self.assertEqual(faults, [
            "runtime/Console.cpp: calls recv; only the socket stack calls the system's socket functions"])
        # Members, other names, comments and texts are no calls of the system.
        benign = ('void h(T& t, T* p) { t.send(1); p->connect(2); Resend(3); my_poll(4); }\n'
                  '// ::connect(s) is made by the stack\n/* recv(s) */ const char* m = "send(";\n')
        _, faults = self.run_check(changes={"socket/Handler.cpp": benign})
        self.assertEqual(faults, [])

    def test_an_include_of_a_header_in_no_target_fails(self):
        _, faults = self.run_check(changes={"socket/Handler.cpp": '#include "qorclnt/socket/Gone.hpp"\n'})
        self.assertEqual(faults, ["socket/Handler.cpp: includes socket/Gone.hpp, which belongs to no single target"])

    def test_the_tree_itself_passes_and_a_fault_fails_the_command(self):
        script = str(HERE / "check-layers.py")
        sound = subprocess.run([sys.executable, script], capture_output=True, text=True)
        self.assertEqual(sound.returncode, 0, sound.stdout)
        with tempfile.TemporaryDirectory() as tree:
            Path(tree, "CMakeLists.txt").write_text(CMAKE)
            Path(tree, "client").mkdir()
            Path(tree, "client/Lost.cpp").write_text("")
            faulty = subprocess.run([sys.executable, script, tree], capture_output=True, text=True)
        self.assertEqual(faulty.returncode, 1)
        self.assertIn("layers: client/Lost.cpp: belongs to no target\n", faulty.stdout)


if __name__ == "__main__":
    unittest.main()
