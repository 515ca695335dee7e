// The host loaded with the fake plug-in, and the suites tests call directly.
#ifndef TINTBRIDGE_TESTS_HOST_FIXTURE_H
#define TINTBRIDGE_TESTS_HOST_FIXTURE_H

#include <gtest/gtest.h>

#include "host/Host.h"

namespace hosttest {

const char *const kGeneral = kOfxImageEffectContextGeneral;

template <typename Suite>
const Suite *fetch(tbhost::Host &host, const char *name) {
  OfxHost *h = host.ofxHost();
  return static_cast<const Suite *>(h->fetchSuite(h->host, name, 1));
}

struct Fixture : ::testing::Test {
  tbhost::Host host{FAKE_PLUGIN_BINARY};
  const OfxImageEffectSuiteV1 *effects = nullptr;
  const OfxParameterSuiteV1 *params = nullptr;

  void SetUp() override {
    ASSERT_EQ(host.load(), kOfxStatOK) << host.lastError();
    effects = fetch<OfxImageEffectSuiteV1>(host, kOfxImageEffectSuite);
    params = fetch<OfxParameterSuiteV1>(host, kOfxParameterSuite);
  }

  OfxParamHandle param(const tbhost::Instance &inst, const char *name) {
    OfxParamSetHandle set = nullptr;
    OfxParamHandle p = nullptr;
    effects->getParamSet(inst.handle(), &set);
    params->paramGetHandle(set, name, &p, nullptr);
    return p;
  }
};

}  // namespace hosttest

#endif
