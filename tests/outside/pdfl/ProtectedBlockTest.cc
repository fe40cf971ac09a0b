// Protected blocks: their exception frames on every path, nesting, the
// thread's current error and its bounded message.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "outside/pdfl/Pdfl.h"

namespace pdfparse::test {
namespace {

using pdfl::PdflErrorText;
using pdfl::PdflException;
using pdfl::PdflProtected;

std::string ErrorString(ASErrorCode code, size_t length = 256) {
  std::string buffer(length, '\x7f');
  ASGetErrorString(code, buffer.data(), length);
  return buffer.c_str();
}

TEST(ProtectedBlock, FramesAreRemovedOnEveryPathAndTheErrorIsKept) {
  ASSERT_EQ(ACExceptionFrameDepth(), 0u);
  EXPECT_TRUE(PdflProtected([&] { EXPECT_EQ(ACExceptionFrameDepth(), 1u); }));
  EXPECT_FALSE(PdflProtected([] { throw PdflException(pdfl::err::kBadPage, "page 9 of 3"); }));
  EXPECT_EQ(ACExceptionFrameDepth(), 0u);
  EXPECT_EQ(ACGetExceptionErrorCode(), pdfl::err::kBadPage);
  // The current error's message names its cause, any other code the table's text.
  EXPECT_EQ(ErrorString(pdfl::err::kBadPage), "page 9 of 3");
  EXPECT_EQ(ErrorString(pdfl::err::kBadPage, 5), "page");
  EXPECT_EQ(ErrorString(pdfl::err::kNoMemory), PdflErrorText(pdfl::err::kNoMemory));
  EXPECT_EQ(ASGetErrorString(pdfl::err::kBadPage, nullptr, 10), nullptr);

  // Other exceptions pass through, without leaving the frame behind.
  EXPECT_THROW(PdflProtected([] { throw std::runtime_error("not ours"); }), std::runtime_error);
  EXPECT_EQ(ACExceptionFrameDepth(), 0u);
  EXPECT_EQ(ACGetExceptionErrorCode(), pdfl::err::kBadPage);
}

TEST(ProtectedBlock, TheInnermostBlockCatchesAndTheOuterGoesOn) {
  bool inner = true;
  size_t depthInInner = 0, depthAfterInner = 0;
  EXPECT_TRUE(PdflProtected([&] {
    inner = PdflProtected([&] {
      depthInInner = ACExceptionFrameDepth();
      throw PdflException(pdfl::err::kDamaged, "inner");
    });
    depthAfterInner = ACExceptionFrameDepth();
  }));
  EXPECT_EQ(std::make_tuple(inner, depthInInner, depthAfterInner, ACExceptionFrameDepth()),
            std::make_tuple(false, size_t{2}, size_t{1}, size_t{0}));
  EXPECT_EQ(ACGetExceptionErrorCode(), pdfl::err::kDamaged);
}

TEST(ProtectedBlock, FramesAndTheCurrentErrorBelongToTheThread) {
  pdfl::detail::SetCurrentException(PdflException(pdfl::err::kPassword, "main thread"));
  ACExceptionFrame a, b, stranger;
  ACPushExceptionFrame(&a, RestorePlugInFrame);
  ACPushExceptionFrame(&b, RestorePlugInFrame);
  EXPECT_EQ(b.previous, &a);
  size_t otherDepth = 99;
  ASErrorCode otherCode = -1;
  std::thread([&] {
    otherDepth = ACExceptionFrameDepth();
    otherCode = ACGetExceptionErrorCode();
    PdflProtected([] { throw PdflException(pdfl::err::kTimeout, "other thread"); });
  }).join();
  EXPECT_EQ(std::make_pair(otherDepth, otherCode), std::make_pair(size_t{0}, 0));
  EXPECT_EQ(ACGetExceptionErrorCode(), pdfl::err::kPassword);

  // Restoring drops the frames above; an unknown frame changes nothing.
  RestorePlugInFrame(&stranger);
  RestorePlugInFrame(&a);
  EXPECT_EQ(ACExceptionFrameDepth(), 1u);
  ACPopExceptionFrame();
  ACPopExceptionFrame();  // on an empty stack: nothing happens
  EXPECT_EQ(ACExceptionFrameDepth(), 0u);
}

}  // namespace
}  // namespace pdfparse::test
