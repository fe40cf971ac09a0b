// Exception frames and the thread's current error.
#include "outside/pdfl/ProtectedBlock.h"

#include <cstring>
#include <string>

namespace {

struct ThreadState {
  ACExceptionFrame* top = nullptr;
  size_t depth = 0;
  ASErrorCode code = 0;
  std::string message;
};

ThreadState& State() {
  thread_local ThreadState state;
  return state;
}

}  // namespace

void ACPushExceptionFrame(ACExceptionFrame* frame, void (*restore)(ACExceptionFrame*)) {
  ThreadState& s = State();
  frame->previous = s.top;
  frame->restore = restore;
  s.top = frame;
  ++s.depth;
}

void ACPopExceptionFrame() {
  ThreadState& s = State();
  if (s.top == nullptr) return;
  s.top = s.top->previous;
  --s.depth;
}

size_t ACExceptionFrameDepth() { return State().depth; }

// Makes `frame` the innermost frame again, dropping the frames registered
// after it (what a jump back to `frame` leaves behind). A frame that is not
// registered on this thread changes nothing.
void RestorePlugInFrame(ACExceptionFrame* frame) {
  ThreadState& s = State();
  size_t above = 0;
  for (ACExceptionFrame* f = s.top; f != nullptr; f = f->previous, ++above) {
    if (f == frame) {
      s.top = frame;
      s.depth -= above;
      return;
    }
  }
}

ASErrorCode ACGetExceptionErrorCode() { return State().code; }

char* ASGetErrorString(ASErrorCode code, char* buffer, ASSize_t length) {
  if (buffer == nullptr || length == 0) return buffer;
  const ThreadState& s = State();
  const char* text =
      (code == s.code && code != 0 && !s.message.empty()) ? s.message.c_str() : pdfparse::pdfl::PdflErrorText(code);
  size_t n = std::strlen(text);
  if (n > length - 1) n = length - 1;
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return buffer;
}

namespace pdfparse::pdfl::detail {
void SetCurrentException(const PdflException& e) {
  ThreadState& s = State();
  s.code = e.code();
  s.message = e.message();
}
}  // namespace pdfparse::pdfl::detail
