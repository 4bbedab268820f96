// The interpreter exceptions that our errors become: raised from C++, as the
// binding edge translates them, and as "except Exception" keeps them.
#include <gtest/gtest.h>
#include <pybind11/embed.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>

#include "common/errors.h"
#include "common/wav_io.h"
#include "interpreter.h"
#include "pyutil/ordinary_errors.h"
#include "pyutil/raise_error.h"

namespace speech::pyutil {
namespace {

namespace py = pybind11;

// The exception that `thrower` leaves when it runs as a bound function.
RaisedException raised_at_edge(const std::function<void()>& thrower) {
  const py::cpp_function bound([thrower] { thrower(); });
  try {
    bound();
  } catch (py::error_already_set& e) {
    return raised(e);
  }
  ADD_FAILURE() << "nothing was raised";
  return {};
}

struct TranslationCase {
  const char* name;
  std::function<void()> thrower;
  RaisedException expected;
};

class ErrorTranslation : public InterpreterTest {};

TEST_F(ErrorTranslation, EachCoreErrorIsTheInterpretersOwn) {
  const TranslationCase cases[] = {
      {"value", [] { throw common::ValueError("bad value"); }, {"ValueError", "bad value"}},
      {"type", [] { throw common::TypeError("not a path"); }, {"TypeError", "not a path"}},
      {"missing", [] { throw common::FileNotFoundError("Checkpoint not found: a.pth"); },
       {"FileNotFoundError", "Checkpoint not found: a.pth"}},
      {"assertion", [] { throw common::AssertionError("shape"); }, {"AssertionError", "shape"}},
      {"division", [] { throw common::ZeroDivisionError("division by zero"); }, {"ZeroDivisionError", "division by zero"}},
      {"os", [] { throw common::OSError("cannot list 'a'"); }, {"OSError", "cannot list 'a'"}},
      {"call with a path", [] { throw common::SystemCallError(ENOENT, "/no/such"); },
       {"FileNotFoundError", "[Errno 2] No such file or directory: '/no/such'"}},
      {"call about no path", [] { throw common::SystemCallError(EACCES, ""); },
       {"PermissionError", "[Errno 13] Permission denied"}},
      {"call on a folder", [] { throw common::SystemCallError(EISDIR, "out"); },
       {"IsADirectoryError", "[Errno 21] Is a directory: 'out'"}},
      // Bytes that are not UTF-8 come back as the same bytes.
      {"audio file", [] { throw common::SndfileError("opening", "/x/t\xff.wav", "System error."); },
       {"OSError", "Error opening '/x/t\xff.wav': System error."}},
      {"audio file written", [] { throw common::SndfileError("writing", "a.wav", "Disk full."); },
       {"OSError", "Error writing 'a.wav': Disk full."}},
  };
  for (const TranslationCase& c : cases) {
    const RaisedException got = raised_at_edge(c.thrower);
    EXPECT_EQ(got.type, c.expected.type) << c.name;
    EXPECT_EQ(got.text, c.expected.text) << c.name;
  }
}

TEST_F(ErrorTranslation, AFailedCallNamesItsPathAsTheInterpreterSpellsIt) {
  const py::cpp_function bound([] { throw common::SystemCallError(ENOENT, "/tmp/t\xff.jsonl"); });
  try {
    bound();
    FAIL() << "nothing was raised";
  } catch (py::error_already_set& e) {
    EXPECT_TRUE(py::object(e.value().attr("filename")).equal(eval("os.fsdecode(b'/tmp/t\\xff.jsonl')")));
    EXPECT_EQ(e.value().attr("errno").cast<int>(), ENOENT);
  }
  const py::cpp_function no_path([] { throw common::SystemCallError(ERANGE, ""); });
  try {
    no_path();
    FAIL() << "nothing was raised";
  } catch (py::error_already_set& e) {
    EXPECT_TRUE(e.value().attr("filename").is_none());
  }
}

TEST_F(ErrorTranslation, ABareRaiseHasNoArguments) {
  try {
    raise_bare(PyExc_AssertionError);
  } catch (py::error_already_set& e) {
    EXPECT_TRUE(e.matches(PyExc_AssertionError));
    EXPECT_EQ(py::len(e.value().attr("args")), 0u);
    EXPECT_EQ(raised(e).text, "");
  }
}

TEST_F(ErrorTranslation, ARaisedTextKeepsItsPathBytes) {
  try {
    raise_error(PyExc_IndexError, "metadata table 't\xff.csv' has 2 rows");
  } catch (py::error_already_set& e) {
    EXPECT_TRUE(e.matches(PyExc_IndexError));
    EXPECT_EQ(py::len(e.value().attr("args")), 1u);
    EXPECT_EQ(raised(e).text, "metadata table 't\xff.csv' has 2 rows");
  }
}

struct GuardCase {
  const char* name;
  std::function<void()> body;
  std::optional<RaisedException> kept;  // nothing: the body ends normally
};

class OrdinaryGuard : public InterpreterTest {};

TEST_F(OrdinaryGuard, KeepsTheExceptionFamilyWhereverItComesFrom) {
  const GuardCase cases[] = {
      {"normal end", [] {}, std::nullopt},
      {"interpreter error", [] { eval("int('x')"); },
       RaisedException{"ValueError", "invalid literal for int() with base 10: 'x'"}},
      {"our own error", [] { throw common::ValueError("too short"); }, RaisedException{"ValueError", "too short"}},
      // Kept as the edge would raise it, not as the C++ text alone.
      {"failed call", [] { throw common::SystemCallError(ENOSPC, "out.jsonl"); },
       RaisedException{"OSError", "[Errno 28] No space left on device: 'out.jsonl'"}},
      {"pybind11's own", [] { throw py::key_error("k"); }, RaisedException{"KeyError", "'k'"}},
  };
  for (const GuardCase& c : cases) {
    const std::optional<OrdinaryError> kept = run_guarded(c.body);
    ASSERT_EQ(kept.has_value(), c.kept.has_value()) << c.name;
    if (!kept) continue;
    EXPECT_EQ(kept->text, c.kept->text) << c.name;
    EXPECT_EQ(py::str(kept->type.attr("__name__")).cast<std::string>(), c.kept->type) << c.name;
    EXPECT_TRUE(py::isinstance(kept->value, kept->type)) << c.name;
  }
}

TEST_F(OrdinaryGuard, LetsEverythingElseGoOn) {
  for (PyObject* type : {PyExc_KeyboardInterrupt, PyExc_SystemExit, PyExc_GeneratorExit}) {
    try {
      run_guarded([type] { raise_bare(type); });
      ADD_FAILURE() << "kept " << reinterpret_cast<PyTypeObject*>(type)->tp_name;
    } catch (py::error_already_set& e) {
      EXPECT_TRUE(e.matches(type));
    }
  }
}

TEST_F(OrdinaryGuard, ANarrowerFamilyKeepsOnlyItsOwn) {
  const std::optional<OrdinaryError> own = run_guarded(PyExc_OSError, [] {
    throw common::SystemCallError(ENOSPC, "mix.wav");
  });
  ASSERT_TRUE(own);
  EXPECT_EQ(own->text, "[Errno 28] No space left on device: 'mix.wav'");
  const std::optional<OrdinaryError> subclass = run_guarded(PyExc_OSError, [] { eval("open('/')"); });
  ASSERT_TRUE(subclass);
  EXPECT_EQ(py::str(subclass->type.attr("__name__")).cast<std::string>(), "IsADirectoryError");
  try {
    run_guarded(PyExc_OSError, [] { throw common::ValueError("not 1-D"); });
    ADD_FAILURE() << "kept a ValueError";
  } catch (py::error_already_set& e) {
    EXPECT_TRUE(e.matches(PyExc_ValueError));
  }
}

TEST_F(OrdinaryGuard, AnInterpreterErrorKeepsItsTraceback) {
  const std::optional<OrdinaryError> kept = run_guarded([] {
    py::exec("def fail():\n    raise LookupError('gone')\nfail()\n", py::dict());
  });
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->text, "gone");
  EXPECT_FALSE(kept->trace.is_none());
  const std::optional<OrdinaryError> own = run_guarded([] { throw common::ValueError("no frames"); });
  ASSERT_TRUE(own);
  EXPECT_TRUE(own->trace.is_none());
}

}  // namespace
}  // namespace speech::pyutil
