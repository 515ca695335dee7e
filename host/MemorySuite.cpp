// The memory suite: counts live blocks per host and fails on request.
#include <cstdlib>
#include <new>
#include <unordered_map>

#include "host/HostInternal.h"

namespace tbhost {

namespace {

std::mutex gBlocksMutex;
std::unordered_map<void *, std::shared_ptr<MemoryAccount>> *gBlocks = nullptr;

std::unordered_map<void *, std::shared_ptr<MemoryAccount>> &blocks() {
  // Never destroyed: blocks may be freed by a module during exit.
  if (!gBlocks) gBlocks = new std::unordered_map<void *, std::shared_ptr<MemoryAccount>>();
  return *gBlocks;
}

std::shared_ptr<MemoryAccount> accountFor(void *handle) {
  Effect *effect = Effect::fromHandle(handle);
  if (effect) return effect->host->memory;
  std::shared_ptr<HostState> state = currentHost();
  if (state) return state->memory;
  static std::shared_ptr<MemoryAccount> *orphan = new std::shared_ptr<MemoryAccount>(new MemoryAccount());
  return *orphan;
}

OfxStatus memoryAlloc(void *handle, size_t bytes, void **out) {
  if (!out) return kOfxStatErrValue;
  try {
    std::shared_ptr<MemoryAccount> account = accountFor(handle);
    {
      std::lock_guard<std::mutex> lock(account->mutex);
      ++account->requests;
      bool fail = false;
      if (account->failNext > 0) {
        --account->failNext;
        fail = true;
      }
      if (account->failAt != 0 && account->failAt == account->requests) {
        account->failAt = 0;
        fail = true;
      }
      if (fail) {
        ++account->failed;
        *out = nullptr;
        return kOfxStatErrMemory;
      }
    }
    void *block = std::malloc(bytes ? bytes : 1);
    if (!block) {
      *out = nullptr;
      return kOfxStatErrMemory;
    }
    {
      std::lock_guard<std::mutex> lock(gBlocksMutex);
      blocks()[block] = account;
    }
    {
      std::lock_guard<std::mutex> lock(account->mutex);
      ++account->live;
      ++account->allocations;
    }
    *out = block;
    return kOfxStatOK;
  } catch (...) {
    *out = nullptr;
    return kOfxStatErrMemory;
  }
}

OfxStatus memoryFree(void *block) {
  if (!block) return kOfxStatOK;
  std::shared_ptr<MemoryAccount> account;
  {
    std::lock_guard<std::mutex> lock(gBlocksMutex);
    auto it = blocks().find(block);
    if (it != blocks().end()) {
      account = std::move(it->second);
      blocks().erase(it);
    }
  }
  if (!account) {
    try {
      std::shared_ptr<MemoryAccount> current = accountFor(nullptr);
      std::lock_guard<std::mutex> lock(current->mutex);
      ++current->badFrees;
    } catch (...) {
    }
    return kOfxStatErrBadHandle;
  }
  std::free(block);
  std::lock_guard<std::mutex> lock(account->mutex);
  --account->live;
  ++account->frees;
  return kOfxStatOK;
}

const OfxMemorySuiteV1 kMemorySuite = {memoryAlloc, memoryFree};

}  // namespace

const OfxMemorySuiteV1 *memorySuite() { return &kMemorySuite; }

}  // namespace tbhost
