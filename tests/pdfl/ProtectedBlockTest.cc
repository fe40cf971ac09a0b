// Exception frames, the thread's current error, error texts, and the
// forwarding of the library calls to the installed engine.
#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "outside/pdfl/Pdfl.h"
#include "outside/pdfl/PdflEngine.h"
#include "support/ScriptedEngine.h"

namespace {

using testing_support::PdflCall;
using testing_support::ScopedPdflEngine;
using testing_support::ScriptedDoc;
using testing_support::ScriptedEngine;

std::string ErrorString(ASErrorCode code, size_t length = 256) {
  std::string buffer(length, '\x7f');
  ASGetErrorString(code, buffer.data(), length);
  return std::string(buffer.c_str());
}

TEST(ProtectedBlock, FramesAreRemovedOnEveryPathAndTheErrorIsKept) {
  ASSERT_EQ(ACExceptionFrameDepth(), 0u);
  size_t inside = 0;
  EXPECT_TRUE(PdflProtected([&] { inside = ACExceptionFrameDepth(); }));
  EXPECT_EQ(inside, 1u);
  EXPECT_EQ(ACExceptionFrameDepth(), 0u);

  EXPECT_FALSE(PdflProtected([] { throw PdflException(pdfl_err::kBadPage, "page 9 of 3"); }));
  EXPECT_EQ(ACExceptionFrameDepth(), 0u);
  EXPECT_EQ(ACGetExceptionErrorCode(), pdfl_err::kBadPage);
  // The message names the cause for the current error, the table's text
  // for any other code.
  EXPECT_EQ(ErrorString(pdfl_err::kBadPage), "page 9 of 3");
  EXPECT_EQ(ErrorString(pdfl_err::kNoMemory), PdflErrorText(pdfl_err::kNoMemory));

  // Other exceptions pass through, without leaving the frame behind.
  EXPECT_THROW(PdflProtected([] { throw std::runtime_error("not ours"); }), std::runtime_error);
  EXPECT_EQ(ACExceptionFrameDepth(), 0u);
  EXPECT_EQ(ACGetExceptionErrorCode(), pdfl_err::kBadPage);
}

TEST(ProtectedBlock, InnermostBlockCatchesAndTheOuterGoesOn) {
  bool innerResult = true;
  size_t depthInInner = 0;
  size_t depthAfterInner = 0;
  bool outerResult = PdflProtected([&] {
    innerResult = PdflProtected([&] {
      depthInInner = ACExceptionFrameDepth();
      throw PdflException(pdfl_err::kDamaged, "inner");
    });
    depthAfterInner = ACExceptionFrameDepth();
  });
  EXPECT_FALSE(innerResult);
  EXPECT_TRUE(outerResult);
  EXPECT_EQ(depthInInner, 2u);
  EXPECT_EQ(depthAfterInner, 1u);
  EXPECT_EQ(ACExceptionFrameDepth(), 0u);
  EXPECT_EQ(ACGetExceptionErrorCode(), pdfl_err::kDamaged);
}

TEST(ProtectedBlock, FrameStackAndCurrentErrorBelongToTheThread) {
  pdfl_detail::SetCurrentException(PdflException(pdfl_err::kPassword, "main thread"));
  ACExceptionFrame frame;
  ACPushExceptionFrame(&frame, RestorePlugInFrame);
  size_t otherDepth = 99;
  ASErrorCode otherCode = -1;
  std::thread other([&] {
    otherDepth = ACExceptionFrameDepth();
    otherCode = ACGetExceptionErrorCode();
    PdflProtected([] { throw PdflException(pdfl_err::kTimeout, "other thread"); });
  });
  other.join();
  EXPECT_EQ(otherDepth, 0u);
  EXPECT_EQ(otherCode, 0);
  EXPECT_EQ(ACExceptionFrameDepth(), 1u);
  EXPECT_EQ(ACGetExceptionErrorCode(), pdfl_err::kPassword);
  ACPopExceptionFrame();
  ACPopExceptionFrame();  // on an empty stack: nothing happens
  EXPECT_EQ(ACExceptionFrameDepth(), 0u);
}

TEST(ProtectedBlock, RestoreDropsTheFramesAboveAndIgnoresUnknownFrames) {
  ACExceptionFrame a, b, c, stranger;
  ACPushExceptionFrame(&a, RestorePlugInFrame);
  ACPushExceptionFrame(&b, RestorePlugInFrame);
  ACPushExceptionFrame(&c, RestorePlugInFrame);
  EXPECT_EQ(c.previous, &b);
  EXPECT_EQ(c.restore, &RestorePlugInFrame);
  RestorePlugInFrame(&stranger);
  EXPECT_EQ(ACExceptionFrameDepth(), 3u);
  RestorePlugInFrame(&a);
  EXPECT_EQ(ACExceptionFrameDepth(), 1u);
  ACPopExceptionFrame();
  EXPECT_EQ(ACExceptionFrameDepth(), 0u);
}

TEST(ErrorText, BoundedCopiesAndOneTextPerCode) {
  pdfl_detail::SetCurrentException(PdflException(pdfl_err::kFileRead, "read failed at 4096"));
  EXPECT_EQ(ErrorString(pdfl_err::kFileRead, 5), "read");
  char one = 'x';
  ASGetErrorString(pdfl_err::kFileRead, &one, 1);
  EXPECT_EQ(one, '\0');
  EXPECT_EQ(ASGetErrorString(pdfl_err::kFileRead, nullptr, 10), nullptr);

  const ASErrorCode codes[] = {
      pdfl_err::kInternal,     pdfl_err::kNoMemory,      pdfl_err::kBadParameter,
      pdfl_err::kTimeout,      pdfl_err::kNotInitialized, pdfl_err::kFileNotFound,
      pdfl_err::kFileRead,     pdfl_err::kNotRegularFile, pdfl_err::kFilePermission,
      pdfl_err::kFileTooLarge, pdfl_err::kNotPdf,         pdfl_err::kDamaged,
      pdfl_err::kPassword,     pdfl_err::kUnsupported,    pdfl_err::kBadPage,
      pdfl_err::kInitBadRecord};
  std::set<std::string> texts;
  for (ASErrorCode code : codes) {
    std::string text = PdflErrorText(code);
    EXPECT_NE(text, PdflErrorText(0x7ABC1234)) << code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), std::size(codes));
  EXPECT_STREQ(PdflErrorText(0x7ABC1234), "unknown error");

  // Severity, system and code of a composite code; bits 24-27 are not shown.
  const ASErrorCode composite = static_cast<ASErrorCode>((2u << 28) | (15u << 24) | (3u << 16) | 7u);
  EXPECT_EQ(ErrGetSeverity(composite), 2u);
  EXPECT_EQ(ErrGetSystem(composite), 3u);
  EXPECT_EQ(ErrGetCode(composite), 7u);
}

TEST(Forwarding, CallsReachTheInstalledEngineUntilItIsRemoved) {
  ScriptedEngine engine;
  engine.addDocument("/a.pdf", ScriptedDoc::WithPages(2));
  {
    ScopedPdflEngine installed(&engine);
    EXPECT_EQ(CurrentPdflEngine(), &engine);
    ASPathName path = ASFileSysCreatePathName(nullptr, ASAtomFromString("Cstring"), "/a.pdf", nullptr);
    PDDoc doc = PDDocOpenEx(path, nullptr, nullptr, nullptr, 1);
    ASFileSysReleasePathName(nullptr, path);
    EXPECT_EQ(PDDocGetNumPages(doc), 2);
    PDPage page = PDDocAcquirePage(doc, 1);
    EXPECT_EQ(engine.pagesHeld(), 1);
    PDPageRelease(page);
    PDDocClose(doc);
    EXPECT_EQ(engine.calls(PdflCall::PDDocOpenEx), 1);
    EXPECT_EQ(engine.docsOpen(), 0);
  }
  EXPECT_EQ(CurrentPdflEngine(), DefaultPdflEngine());
}

}  // namespace
