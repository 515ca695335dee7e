// The module's entry points, its plug-in record, action dispatch and the
// load action, as a host meets them.
#include <gtest/gtest.h>

#include <algorithm>
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

// Reads little-endian fields of a file held in memory; 0 past the end.
struct Bytes {
  std::string data;
  uint64_t at(size_t offset, size_t size) const {
    uint64_t v = 0;
    if (offset + size <= data.size()) std::memcpy(&v, data.data() + offset, size);
    return v;
  }
  std::string text(size_t offset) const { return offset < data.size() ? std::string(data.c_str() + offset) : ""; }
};

// Defined, non-local symbols of an ELF64 module's dynamic symbol table.
std::set<std::string> elfExports(const Bytes &b) {
  std::set<std::string> names;
  const uint64_t sections = b.at(0x28, 8);
  const uint64_t sectionSize = b.at(0x3a, 2);
  const uint64_t sectionCount = b.at(0x3c, 2);
  for (uint64_t s = 0; s < sectionCount; ++s) {
    const size_t header = sections + s * sectionSize;
    if (b.at(header + 4, 4) != 11) continue;  // SHT_DYNSYM
    const uint64_t offset = b.at(header + 0x18, 8);
    const uint64_t size = b.at(header + 0x20, 8);
    const uint64_t link = b.at(header + 0x28, 4);
    const uint64_t entry = b.at(header + 0x38, 8);
    const uint64_t strings = b.at(sections + link * sectionSize + 0x18, 8);
    for (uint64_t e = 0; entry && e < size / entry; ++e) {
      const size_t symbol = offset + e * entry;
      const uint64_t binding = b.at(symbol + 4, 1) >> 4;
      if (b.at(symbol + 6, 2) == 0 || binding == 0) continue;  // undefined or local
      names.insert(b.text(strings + b.at(symbol, 4)));
    }
  }
  return names;
}

// Names in a PE32+ module's export directory.
std::set<std::string> peExports(const Bytes &b) {
  std::set<std::string> names;
  const uint64_t pe = b.at(0x3c, 4);
  if (b.at(pe, 4) != 0x4550) return names;  // "PE\0\0"
  const uint64_t sectionCount = b.at(pe + 6, 2);
  const uint64_t optional = pe + 24;
  const uint64_t sectionTable = optional + b.at(pe + 20, 2);
  auto offsetOf = [&](uint64_t rva) -> uint64_t {
    for (uint64_t s = 0; s < sectionCount; ++s) {
      const uint64_t h = sectionTable + s * 40;
      const uint64_t va = b.at(h + 12, 4);
      const uint64_t extent = std::max(b.at(h + 8, 4), b.at(h + 16, 4));
      if (rva >= va && rva < va + extent) return rva - va + b.at(h + 20, 4);
    }
    return UINT64_MAX / 2;
  };
  const uint64_t exportRva = b.at(optional + 112, 4);
  if (!exportRva) return names;
  const uint64_t directory = offsetOf(exportRva);
  const uint64_t count = b.at(directory + 24, 4);
  const uint64_t nameTable = offsetOf(b.at(directory + 32, 4));
  for (uint64_t i = 0; i < count; ++i) names.insert(b.text(offsetOf(b.at(nameTable + 4 * i, 4))));
  return names;
}

std::set<std::string> exportedSymbols(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  Bytes b{std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
  if (b.data.compare(0, 4, "\x7f" "ELF") == 0 && b.at(4, 1) == 2) return elfExports(b);
  if (b.data.compare(0, 2, "MZ") == 0) return peExports(b);
  ADD_FAILURE() << path << " is neither a 64-bit ELF nor a PE module";
  return {};
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
                             "OfxImageEffectActionGetframesneeded", ""}) {
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
