// The module's entry points, its plug-in record, action dispatch and the
// load action, as a host meets them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "host/Host.h"

using tbhost::Host;

namespace {

TEST(Entry, ExposesOnePluginRecord) {
  Host host(TINTBRIDGE_BUNDLE_BINARY);
  ASSERT_TRUE(host.open()) << host.lastError();
  EXPECT_EQ(host.numberOfPlugins(), 1);
  EXPECT_EQ(host.getPlugin(1), nullptr);
  EXPECT_EQ(host.getPlugin(-1), nullptr);
  OfxPlugin *plugin = host.getPlugin(0);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin, host.getPlugin(0));
  EXPECT_STREQ(plugin->pluginApi, "OfxImageEffectPluginAPI");
  EXPECT_EQ(plugin->apiVersion, 1);
  EXPECT_STREQ(plugin->pluginIdentifier, "com.lumenforge.tintbridge");
  EXPECT_EQ(plugin->pluginVersionMajor, 1u);
  EXPECT_EQ(plugin->pluginVersionMinor, 0u);
  EXPECT_NE(plugin->setHost, nullptr);
  EXPECT_NE(plugin->mainEntry, nullptr);
}

// Names of the defined symbols in an ELF64 little-endian module's dynamic
// symbol table.
std::set<std::string> exportedSymbols(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto read = [&](size_t offset, size_t size) {
    uint64_t v = 0;
    if (offset + size <= bytes.size()) std::memcpy(&v, bytes.data() + offset, size);
    return v;
  };
  std::set<std::string> names;
  if (bytes.size() < 64 || bytes.compare(0, 4, "\x7f" "ELF") != 0 || bytes[4] != 2 || bytes[5] != 1) return names;
  const uint64_t sectionOffset = read(0x28, 8);
  const uint64_t sectionSize = read(0x3a, 2);
  const uint64_t sectionCount = read(0x3c, 2);
  for (uint64_t s = 0; s < sectionCount; ++s) {
    const size_t header = sectionOffset + s * sectionSize;
    if (read(header + 4, 4) != 11) continue;  // SHT_DYNSYM
    const uint64_t offset = read(header + 0x18, 8);
    const uint64_t size = read(header + 0x20, 8);
    const uint64_t link = read(header + 0x28, 4);
    const uint64_t entry = read(header + 0x38, 8);
    const uint64_t strings = read(sectionOffset + link * sectionSize + 0x18, 8);
    for (uint64_t e = 0; entry && e < size / entry; ++e) {
      const size_t symbol = offset + e * entry;
      const uint64_t name = read(symbol, 4);
      const unsigned info = static_cast<unsigned>(read(symbol + 4, 1));
      const uint64_t sectionIndex = read(symbol + 6, 2);
      if (sectionIndex == 0 || (info >> 4) == 0) continue;  // undefined or local
      if (strings + name < bytes.size()) names.insert(std::string(bytes.c_str() + strings + name));
    }
  }
  return names;
}

TEST(Entry, ExportsOnlyTheTwoOfxFunctions) {
  const std::set<std::string> names = exportedSymbols(TINTBRIDGE_BUNDLE_BINARY);
  EXPECT_EQ(names, (std::set<std::string>{"OfxGetNumberOfPlugins", "OfxGetPlugin"}));
}

TEST(Dispatch, AnswersUnknownAndCaseDifferingNamesWithDefault) {
  Host host(TINTBRIDGE_BUNDLE_BINARY);
  ASSERT_EQ(host.load(), kOfxStatOK) << host.lastError();
  for (const char *action : {"ofxactionload", "OFXACTIONDESCRIBE", "OfxActionDescribe ", "OfxActionCreateinstance",
                             "OfxImageEffectActionrender", "OfxActionUnload", "OfxActionPurgeCaches",
                             "OfxImageEffectActionGetClipPreferences", ""}) {
    EXPECT_EQ(host.callAction(action, nullptr, nullptr, nullptr), kOfxStatReplyDefault) << '"' << action << '"';
  }
  EXPECT_EQ(host.callAction(nullptr, nullptr, nullptr, nullptr), kOfxStatReplyDefault);
  EXPECT_EQ(host.callAction(kOfxActionLoad, nullptr, nullptr, nullptr), kOfxStatOK);
}

struct Withheld {
  std::vector<const char *> suites;
  OfxStatus status;
};

class LoadWithout : public ::testing::TestWithParam<Withheld> {};

TEST_P(LoadWithout, FetchesAllSixAndRefusesOnlyForRequiredSuites) {
  Host host(TINTBRIDGE_BUNDLE_BINARY);
  for (const char *suite : GetParam().suites) host.withholdSuite(suite);
  EXPECT_EQ(host.load(), GetParam().status);
  const std::vector<tbhost::FetchRecord> fetches = host.fetches();
  const std::vector<std::string> order = {kOfxPropertySuite,    kOfxImageEffectSuite, kOfxParameterSuite,
                                          kOfxMemorySuite,      kOfxMultiThreadSuite, kOfxMessageSuite};
  ASSERT_EQ(fetches.size(), order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(fetches[i].name, order[i]);
    EXPECT_EQ(fetches[i].version, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Suites, LoadWithout,
    ::testing::Values(Withheld{{}, kOfxStatOK}, Withheld{{kOfxMemorySuite}, kOfxStatErrMissingHostFeature},
                      Withheld{{kOfxMessageSuite, kOfxMultiThreadSuite}, kOfxStatOK},
                      Withheld{{kOfxPropertySuite}, kOfxStatErrMissingHostFeature},
                      Withheld{{kOfxImageEffectSuite}, kOfxStatErrMissingHostFeature},
                      Withheld{{kOfxParameterSuite}, kOfxStatErrMissingHostFeature}));

TEST(Load, ActionsAfterARefusedLoadCallNothingAndALaterLoadRecovers) {
  Host host(TINTBRIDGE_BUNDLE_BINARY);
  host.withholdSuite(kOfxParameterSuite);
  EXPECT_EQ(host.load(), kOfxStatErrMissingHostFeature);
  // A host that ignores the refusal gets no crash and no half description.
  host.describe();
  EXPECT_TRUE(host.descriptor()->writes().empty());
  host.provideSuite(kOfxParameterSuite);
  EXPECT_EQ(host.load(), kOfxStatOK);
  EXPECT_EQ(host.describe(), kOfxStatOK);
}

TEST(Load, ScanThenLoadAgainAsHostsDo) {
  Host host(TINTBRIDGE_BUNDLE_BINARY);
  ASSERT_EQ(host.load(), kOfxStatOK) << host.lastError();
  ASSERT_EQ(host.describe(), kOfxStatOK);
  EXPECT_EQ(host.unload(), kOfxStatReplyDefault);
  ASSERT_EQ(host.load(), kOfxStatOK);
  ASSERT_EQ(host.describe(), kOfxStatOK);
  tbhost::Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
  EXPECT_EQ(inst.createStatus(), kOfxStatOK);
  EXPECT_EQ(inst.destroy(), kOfxStatOK);

  // And after the binary itself was closed and opened again.
  host.close();
  ASSERT_EQ(host.load(), kOfxStatOK) << host.lastError();
  tbhost::Instance again = host.createInstance(kOfxImageEffectContextFilter);
  EXPECT_EQ(again.createStatus(), kOfxStatOK);
  EXPECT_EQ(host.memory().liveBlocks, 1);
}

}  // namespace
