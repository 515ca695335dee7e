// The multithread suite: real threads and recursive mutexes.
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "host/HostInternal.h"

namespace tbhost {

namespace {

thread_local unsigned int tThreadIndex = 0;
thread_local bool tSpawned = false;
thread_local bool tInMultiThread = false;

constexpr unsigned int kMaxThreads = 64;

OfxStatus multiThread(OfxThreadFunctionV1 func, unsigned int count, void *arg) {
  if (!func) return kOfxStatErrValue;
  if (tInMultiThread || tSpawned) return kOfxStatErrExists;
  if (count == 0) count = 1;
  if (count > kMaxThreads) count = kMaxThreads;
  tInMultiThread = true;
  // Fetches from the spawned threads belong to the render that spawned them.
  const RenderContext *render = activeRender();
  std::vector<std::thread> threads;
  OfxStatus status = kOfxStatOK;
  try {
    threads.reserve(count);
    for (unsigned int i = 0; i < count; ++i) {
      threads.emplace_back([func, i, count, arg, render] {
        tThreadIndex = i;
        tSpawned = true;
        setActiveRender(render);
        func(i, count, arg);
      });
    }
  } catch (...) {
    status = kOfxStatFailed;  // threads that did start still run to the end
  }
  for (std::thread &t : threads) t.join();
  tInMultiThread = false;
  return status;
}

OfxStatus multiThreadNumCPUs(unsigned int *count) {
  if (!count) return kOfxStatErrValue;
  const unsigned int n = std::thread::hardware_concurrency();
  *count = n ? n : 1;
  return kOfxStatOK;
}

OfxStatus multiThreadIndex(unsigned int *index) {
  if (!index) return kOfxStatErrValue;
  *index = tSpawned ? tThreadIndex : 0;
  return kOfxStatOK;
}

int multiThreadIsSpawnedThread() { return tSpawned ? 1 : 0; }

struct HostMutex {
  static constexpr uint32_t kMagic = 0x4d555458u;  // "MUTX"
  uint32_t magic = kMagic;
  std::mutex mutex;
  std::condition_variable released;
  std::thread::id owner;
  int count = 0;
};

HostMutex *hostMutex(OfxMutexHandle handle) {
  HostMutex *m = reinterpret_cast<HostMutex *>(handle);
  return m && m->magic == HostMutex::kMagic ? m : nullptr;
}

OfxStatus mutexCreate(OfxMutexHandle *out, int lockCount) {
  if (!out) return kOfxStatErrValue;
  HostMutex *m = new (std::nothrow) HostMutex();
  if (!m) return kOfxStatErrMemory;
  if (lockCount > 0) {
    m->owner = std::this_thread::get_id();
    m->count = lockCount;
  }
  *out = reinterpret_cast<OfxMutexHandle>(m);
  return kOfxStatOK;
}

OfxStatus mutexDestroy(const OfxMutexHandle handle) {
  HostMutex *m = hostMutex(handle);
  if (!m) return kOfxStatErrBadHandle;
  m->magic = 0;
  delete m;
  return kOfxStatOK;
}

OfxStatus mutexLock(const OfxMutexHandle handle) {
  HostMutex *m = hostMutex(handle);
  if (!m) return kOfxStatErrBadHandle;
  std::unique_lock<std::mutex> lock(m->mutex);
  const std::thread::id self = std::this_thread::get_id();
  if (m->count > 0 && m->owner == self) {
    ++m->count;
    return kOfxStatOK;
  }
  m->released.wait(lock, [m] { return m->count == 0; });
  m->owner = self;
  m->count = 1;
  return kOfxStatOK;
}

OfxStatus mutexUnLock(const OfxMutexHandle handle) {
  HostMutex *m = hostMutex(handle);
  if (!m) return kOfxStatErrBadHandle;
  std::lock_guard<std::mutex> lock(m->mutex);
  if (m->count == 0 || m->owner != std::this_thread::get_id()) return kOfxStatErrBadHandle;
  if (--m->count == 0) {
    m->owner = std::thread::id();
    m->released.notify_one();
  }
  return kOfxStatOK;
}

OfxStatus mutexTryLock(const OfxMutexHandle handle) {
  HostMutex *m = hostMutex(handle);
  if (!m) return kOfxStatErrBadHandle;
  std::lock_guard<std::mutex> lock(m->mutex);
  const std::thread::id self = std::this_thread::get_id();
  if (m->count > 0 && m->owner != self) return kOfxStatFailed;
  m->owner = self;
  ++m->count;
  return kOfxStatOK;
}

const OfxMultiThreadSuiteV1 kMultiThreadSuite = {
    multiThread, multiThreadNumCPUs, multiThreadIndex, multiThreadIsSpawnedThread, mutexCreate,
    mutexDestroy, mutexLock,         mutexUnLock,      mutexTryLock,
};

}  // namespace

const OfxMultiThreadSuiteV1 *multiThreadSuite() { return &kMultiThreadSuite; }

}  // namespace tbhost
