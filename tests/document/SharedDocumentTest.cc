// The document engine as the plug-in uses it: attaching to the engine's open
// parse of the same file or parsing for itself, tearing closed documents
// down, and leaving the host's libqpdf logger alone.
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFLogger.hh>

#include <thread>

#include "document/Disposer.h"
#include "document/Document.h"
#include "document/OpenDocuments.h"
#include "document/PluginDocument.h"
#include "support/EngineFixture.h"

namespace pdfparse::test {
namespace {

using document::PluginDocument;

std::vector<double> CropInPoints(PluginDocument& reader, size_t index) {
  double box[4] = {0, 0, 0, 0};
  if (!reader.cropBoxInPoints(index, box)) return {};
  return {box[0], box[1], box[2], box[3]};
}

// Opens through the real file system; every read fails.
struct FailingReads : outside::FileSys {
  struct Unreadable : outside::File {
    explicit Unreadable(std::unique_ptr<outside::File> real) : real(std::move(real)) {}
    uint64_t size() const override { return real->size(); }
    int64_t readAt(uint64_t, void*, size_t) override { return -EIO; }
    std::unique_ptr<outside::File> real;
  };
  int open(const std::string& path, std::unique_ptr<outside::File>* out) override {
    std::unique_ptr<outside::File> real;
    if (int err = outside::DefaultFileSys()->open(path, &real)) return err;
    *out = std::make_unique<Unreadable>(std::move(real));
    return 0;
  }
};

class SharedDocumentTest : public EngineTest {
 protected:
  std::string twoPages_ = write("two.pdf", BuildPdf([] {
                                  DocLayout doc = Pages(2);
                                  doc.pages = {"/CropBox [10 20 110 220]", "/UserUnit 2.5"};
                                  return doc;
                                }()));
};

TEST_F(SharedDocumentTest, AReaderOnTheEngineThreadAttachesAndEitherMayCloseFirst) {
  for (bool engineClosesFirst : {true, false}) {
    SCOPED_TRACE(engineClosesFirst ? "engine closes first" : "reader closes first");
    PDDoc doc = open(twoPages_);
    EXPECT_EQ(engine_.PDDocGetNumPages(doc), 2);
    std::unique_ptr<PluginDocument> reader = PluginDocument::Open(twoPages_.c_str(), *outside::DefaultFileSys());
    ASSERT_TRUE(reader);
    EXPECT_TRUE(reader->attached());
    // Another thread parses for itself: a parse is never shared across threads.
    std::thread([&] {
      std::unique_ptr<PluginDocument> other = PluginDocument::Open(twoPages_.c_str(), *outside::DefaultFileSys());
      ASSERT_TRUE(other);
      EXPECT_FALSE(other->attached());
      EXPECT_EQ(CropInPoints(*other, 1), (std::vector<double>{0, 1980, 1530, 0}));
      // It reads through the file system it is given.
      FailingReads failing;
      EXPECT_FALSE(PluginDocument::Open(twoPages_.c_str(), failing));
    }).join();
    if (engineClosesFirst) engine_.PDDocClose(doc);
    EXPECT_EQ(CropInPoints(*reader, 0), (std::vector<double>{10, 220, 110, 20}));
    EXPECT_EQ(CropInPoints(*reader, 1), (std::vector<double>{0, 1980, 1530, 0}));  // times /UserUnit
    EXPECT_TRUE(CropInPoints(*reader, 2).empty());
    reader.reset();
    if (!engineClosesFirst) engine_.PDDocClose(doc);
    EXPECT_EQ(document::OpenDocuments::CountForTesting(), 0u);
  }
}

TEST_F(SharedDocumentTest, ClosedDocumentsAreTornDownOffTheCallerAndWaitsEndWhenTheyAre) {
  document::Disposer disposer;
  std::weak_ptr<document::Document> watched;
  for (int round = 0; round < 2; ++round) {  // stop() joins; the next dispose starts again
    for (int i = 0; i < 3; ++i) {
      auto doc = std::make_shared<document::Document>(twoPages_, std::shared_ptr<document::FileBytes>(),
                                                      std::make_shared<document::WorkBudget>(1, 1000), false);
      watched = doc;
      disposer.dispose(std::move(doc));
    }
    // Idle means torn down: the library's unload waits for exactly this.
    ASSERT_TRUE(disposer.waitIdle(60000));
    EXPECT_TRUE(watched.expired());
    disposer.stop();
    EXPECT_EQ(disposer.disposedForTesting(), 3u * (round + 1));
  }
}

// A host that uses libqpdf itself keeps its own logger: the engine reports
// through loggers of its documents, even for files full of warnings.
TEST_F(SharedDocumentTest, TheHostsLibqpdfLoggerIsLeftAsItWas) {
  std::string hostMessages;
  auto hostPipe = std::make_shared<Pl_String>("host", nullptr, hostMessages);
  auto logger = QPDFLogger::defaultLogger();
  const std::shared_ptr<Pipeline> previous = logger->getWarn();
  logger->setWarn(hostPipe);
  {
    pdfl::DocumentEngine engine;
    PDFLDataRec record{};
    record.size = sizeof record;
    ASSERT_EQ(engine.PDFLInit(&record), 0);
    const std::string letter = BuildPdf(Pages(3));
    std::string path = write("cut.pdf", letter.substr(0, letter.rfind("xref")));
    ASFileSys fs = CPdfFileSysIf::Create(CPdfFileSysIf::eModeRead);
    ASPathName name = engine.ASFileSysCreatePathName(fs, engine.ASAtomFromString("Cstring"), path.c_str(), nullptr);
    PDDoc doc = engine.PDDocOpenEx(name, fs, nullptr, nullptr, 1);
    EXPECT_EQ(engine.PDDocGetNumPages(doc), 3);
    engine.PDDocClose(doc);
    engine.ASFileSysReleasePathName(fs, name);
    EXPECT_EQ(logger->getWarn(), hostPipe);
    engine.PDFLTerm();
    EXPECT_TRUE(engine.PDFLWaitForTermination(60000));
  }
  EXPECT_EQ(logger->getWarn(), hostPipe);
  EXPECT_EQ(hostMessages, "");
  logger->setWarn(previous);
}

}  // namespace
}  // namespace pdfparse::test
