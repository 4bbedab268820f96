// The one engine of a run, owned so that every way out of main destroys it,
// the early failures included; a failed creation leaves a handle that
// PostItn_DestroyEngine accepts too.
#pragma once

#include "textpolish_itn.h"

class EngineOwner {
 public:
  EngineOwner() = default;
  ~EngineOwner() { TextPolishItn::PostItn_DestroyEngine(handle_); }
  EngineOwner(const EngineOwner&) = delete;
  EngineOwner& operator=(const EngineOwner&) = delete;

  // For PostItn_CreateEngine, which fills the handle in place.
  TextPolishItn::PostItn_HANDLE& slot() { return handle_; }
  TextPolishItn::PostItn_HANDLE get() const { return handle_; }

 private:
  TextPolishItn::PostItn_HANDLE handle_ = nullptr;
};
