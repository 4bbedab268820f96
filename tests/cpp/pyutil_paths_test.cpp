// Paths between the interpreter and our code: os.fsencode and os.fsdecode
// exactly, with the file system's encoding and its surrogate escapes.
#include <gtest/gtest.h>
#include <pybind11/embed.h>

#include <optional>
#include <string>

#include "interpreter.h"
#include "pyutil/fs_path.h"

namespace speech::pyutil {
namespace {

namespace py = pybind11;

class FsPath : public InterpreterTest {};

TEST_F(FsPath, EncodesEveryPathAsOsFsencode) {
  for (const char* path : {"'plain/name.wav'", "'t\\udcff.wav'", "b't\\xff.wav'", "pathlib.PurePosixPath('a/b.wav')",
                           "'\\u540d\\u5b57.wav'", "''"}) {
    const py::object value = eval(path);
    const std::string expected = eval("os.fsencode").attr("__call__")(value).cast<std::string>();
    EXPECT_EQ(fs_encode(value), expected) << path;
    EXPECT_EQ(try_fs_encode(value), std::optional<std::string>(expected)) << path;
  }
}

TEST_F(FsPath, ATextNoFileCanBeNamedByIsRefusedOrNothing) {
  const py::object lone = eval("'a\\ud800.wav'");
  EXPECT_EQ(try_fs_encode(lone), std::nullopt);
  try {
    fs_encode(lone);
    FAIL() << "encoded a lone surrogate";
  } catch (py::error_already_set& e) {
    EXPECT_TRUE(e.matches(PyExc_UnicodeEncodeError));
  }
}

TEST_F(FsPath, WhatIsNoPathIsATypeErrorEitherWay) {
  for (const char* value : {"3", "None", "[b'a']"}) {
    for (const bool trying : {false, true}) {
      try {
        if (trying) {
          try_fs_encode(eval(value));
        } else {
          fs_encode(eval(value));
        }
        ADD_FAILURE() << "encoded " << value;
      } catch (py::error_already_set& e) {
        EXPECT_TRUE(e.matches(PyExc_TypeError)) << value;
      }
    }
  }
}

TEST_F(FsPath, DecodesAsOsFsdecodeAndRoundTrips) {
  for (const std::string& bytes : {std::string("plain.wav"), std::string("t\xff.wav"), std::string("\xe5\x90\x8d.wav")}) {
    const py::str text = fs_decode(bytes);
    EXPECT_TRUE(text.equal(eval("os.fsdecode").attr("__call__")(py::bytes(bytes)))) << bytes;
    EXPECT_EQ(fs_encode(text), bytes);
  }
}

}  // namespace
}  // namespace speech::pyutil
