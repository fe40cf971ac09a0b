// Exception frames and the protected block.
//
// A protected block pushes a frame on the calling thread's frame stack, runs
// its calls, and removes the frame on every path. It catches only
// PdflException: on that path the frame is removed first, the exception
// becomes the thread's current error (ACGetExceptionErrorCode), and the
// block reports false so the caller can run its error report. Blocks nest;
// the innermost catches.
#ifndef PDFPARSE_OUTSIDE_PDFL_PROTECTEDBLOCK_H_
#define PDFPARSE_OUTSIDE_PDFL_PROTECTEDBLOCK_H_

#include <cstddef>
#include <utility>

#include "outside/pdfl/PdflErrors.h"
#include "outside/pdfl/PdflTypes.h"

struct ACExceptionFrame {
  ACExceptionFrame* previous = nullptr;
  void (*restore)(ACExceptionFrame*) = nullptr;
};

// The library's frame-restore routine handed to ACPushExceptionFrame.
void RestorePlugInFrame(ACExceptionFrame* frame);

void ACPushExceptionFrame(ACExceptionFrame* frame, void (*restore)(ACExceptionFrame*));
// Removes the innermost frame of the calling thread.
void ACPopExceptionFrame();
// Frames registered on the calling thread; 0 outside every block.
size_t ACExceptionFrameDepth();

// Code of the exception last caught on this thread (0 before any).
ASErrorCode ACGetExceptionErrorCode();
// Copies a one-line message for `code` into `buffer` (at most length - 1
// bytes and a terminator) and returns `buffer`. For the exception last caught
// on this thread the message names its cause.
char* ASGetErrorString(ASErrorCode code, char* buffer, ASSize_t length);

namespace pdfparse::pdfl {

namespace detail {
void SetCurrentException(const PdflException& e);

class FrameGuard {
 public:
  FrameGuard() { ACPushExceptionFrame(&frame_, RestorePlugInFrame); }
  ~FrameGuard() { pop(); }
  void pop() {
    if (pushed_) {
      pushed_ = false;
      ACPopExceptionFrame();
    }
  }
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;

 private:
  ACExceptionFrame frame_;
  bool pushed_ = true;
};
}  // namespace detail

// Runs `body` in a protected block. True when it completed; false when it
// raised PdflException (frame already removed, error recorded). Any other
// exception passes through, with the frame removed.
template <class Body>
bool PdflProtected(Body&& body) {
  detail::FrameGuard guard;
  try {
    std::forward<Body>(body)();
  } catch (const PdflException& e) {
    guard.pop();
    detail::SetCurrentException(e);
    return false;
  }
  guard.pop();
  return true;
}

}  // namespace pdfparse::pdfl

#endif  // PDFPARSE_OUTSIDE_PDFL_PROTECTEDBLOCK_H_
