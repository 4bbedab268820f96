// The clean-up of a `finally` clause by destructors: standard output put
// back and files closed on every way out, a failing clean-up reported only
// when nothing else failed first.
#include <gtest/gtest.h>
#include <pybind11/embed.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "interpreter.h"
#include "pyutil/scope_guards.h"

namespace speech::pyutil {
namespace {

namespace py = pybind11;

// A stream that remembers what standard output was when it was closed, and
// whose close fails when told to.
py::object sink(bool close_fails) {
  py::dict scope;
  scope["sys"] = py::module_::import("sys");
  py::exec(R"(
class Sink:
    def __init__(self, close_fails):
        self.close_fails = close_fails
        self.stdout_at_close = None
    def write(self, text):
        pass
    def flush(self):
        pass
    def close(self):
        self.stdout_at_close = sys.stdout
        if self.close_fails:
            raise OSError(28, 'No space left on device')
)",
           scope);
  return scope["Sink"](close_fails);
}

class ScopeGuards : public InterpreterTest {
 protected:
  void SetUp() override { console_ = sys().attr("stdout"); }
  void TearDown() override { sys().attr("stdout") = console_; }
  static py::object sys() { return py::module_::import("sys"); }
  static py::object stdout_now() { return sys().attr("stdout"); }

  py::object console_;
};

TEST_F(ScopeGuards, StandardOutputIsTheStreamWhileTheScopeLasts) {
  const py::object log = sink(false);
  {
    const StdoutRedirect redirect(sys(), log, console_);
    EXPECT_TRUE(stdout_now().is(log));
  }
  EXPECT_TRUE(stdout_now().is(console_));
}

TEST_F(ScopeGuards, StandardOutputComesBackConsoleFirstThenTheLogIsClosed) {
  for (const bool fails : {false, true}) {
    const py::object log = sink(false);
    try {
      const ClosingFile closing(log);
      const StdoutRedirect redirect(sys(), log, console_);
      if (fails) throw common::ValueError("separation failed");
    } catch (const common::ValueError& e) {
      EXPECT_TRUE(fails);
      EXPECT_STREQ(e.what(), "separation failed");
    }
    EXPECT_TRUE(stdout_now().is(console_)) << fails;
    EXPECT_TRUE(py::object(log.attr("stdout_at_close")).is(console_)) << fails;
  }
}

TEST_F(ScopeGuards, AFailingCloseIsTheScopesFailureWhenNothingElseFailed) {
  const py::object log = sink(true);
  bool failed = false;
  try {
    const ClosingFile closing(log);
  } catch (py::error_already_set& e) {
    failed = e.matches(PyExc_OSError);
  }
  EXPECT_TRUE(failed);
  EXPECT_FALSE(log.attr("stdout_at_close").is_none());
}

TEST_F(ScopeGuards, TheFirstFailureIsTheOneThatGoesOn) {
  const py::object log = sink(true);
  try {
    const ClosingFile closing(log);
    const StdoutRedirect redirect(sys(), log, console_);
    throw py::key_error("interrupted");
  } catch (py::error_already_set& e) {
    FAIL() << "the close's error replaced the first one";
  } catch (const py::key_error&) {
  }
  EXPECT_TRUE(stdout_now().is(console_));
  EXPECT_FALSE(PyErr_Occurred());
}

TEST_F(ScopeGuards, CleanUpsRunInTheReverseOrderOfTheirScopes) {
  std::vector<std::string> order;
  {
    const ScopeExit outer([&order] { order.push_back("outer"); });
    const ScopeExit inner([&order] { order.push_back("inner"); });
  }
  EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
}

}  // namespace
}  // namespace speech::pyutil
