// Events: CreateEventW, SetEvent and ResetEvent. Names are ignored: every event is private to
// the process, so a named event is simply a new one.
#include "kernelbase/event_object.h"

namespace winapi_linux {

void EventObject::set() {
  Dispatcher& d = dispatcher();
  {
    std::lock_guard lock(d.mutex);
    signalled_ = true;
  }
  d.changed.notify_all();
}

void EventObject::reset() {
  std::lock_guard lock(dispatcher().mutex);
  signalled_ = false;
}

}  // namespace winapi_linux

using namespace winapi_linux;

WINAPI_LAYER HANDLE CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  (void)sa;
  (void)name;
  HANDLE handle = insertHandle(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
  SetLastError(handle ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
  return handle;
}

WINAPI_LAYER BOOL SetEvent(HANDLE event) {
  auto object = lookupHandleAs<EventObject>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->set();
  return TRUE;
}

WINAPI_LAYER BOOL ResetEvent(HANDLE event) {
  auto object = lookupHandleAs<EventObject>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->reset();
  return TRUE;
}
