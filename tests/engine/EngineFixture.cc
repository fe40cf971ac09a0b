#include "engine/EngineFixture.h"

namespace enginetest {

ASBool ScriptedAuth(PDDoc doc, void* clientData) {
  auto* script = static_cast<AuthScript*>(clientData);
  ++script->calls;
  if (!script->answer) return 0;
  script->perms = script->engine->PDDocAuthorize(doc, pdPermOpen, const_cast<char*>(script->password.c_str()));
  return (script->perms & pdPermOpen) ? 1 : 0;
}

void EngineTest::SetUp() {
  previousSink_ = outside::g_traceA.SetSink(sink_);
  PDFLDataRec record{};
  record.size = sizeof(PDFLDataRec);
  record.flags = 1;
  ASSERT_EQ(engine_.PDFLInit(&record), 0);
}

void EngineTest::TearDown() {
  engine_.PDFLTerm();
  outside::g_traceA.SetSink(previousSink_);
}

PDDoc EngineTest::open(const std::string& path, bool repair, AuthScript* auth) {
  ASFileSys fileSys = CPdfFileSysIf::Create(CPdfFileSysIf::eModeRead);
  ASPathName name = engine_.ASFileSysCreatePathName(fileSys, engine_.ASAtomFromString("Cstring"), path.c_str(),
                                                    nullptr);
  if (auth) auth->engine = &engine_;
  PDDoc doc = nullptr;
  try {
    doc = engine_.PDDocOpenEx(name, fileSys, auth ? ScriptedAuth : nullptr, auth, repair ? 1 : 0);
  } catch (...) {
    engine_.ASFileSysReleasePathName(fileSys, name);
    throw;
  }
  engine_.ASFileSysReleasePathName(fileSys, name);
  return doc;
}

ASErrorCode EngineTest::openError(const std::string& path, bool repair, AuthScript* auth, std::string* message) {
  return ErrorOf(
      [&] {
        PDDoc doc = open(path, repair, auth);
        if (doc) engine_.PDDocClose(doc);
      },
      message);
}

int EngineTest::pageCount(const std::string& path, bool repair) {
  PDDoc doc = open(path, repair);
  int n = 0;
  try {
    n = engine_.PDDocGetNumPages(doc);
  } catch (...) {
    engine_.PDDocClose(doc);
    throw;
  }
  engine_.PDDocClose(doc);
  return n;
}

std::vector<std::string> EngineTest::linesWith(const std::string& part) const {
  std::vector<std::string> out;
  for (const std::string& line : sink_->lines()) {
    if (line.find(part) != std::string::npos) out.push_back(line);
  }
  return out;
}

}  // namespace enginetest
