#include "tests/support/AllocFailure.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Blocks come from malloc and go back to free, which AddressSanitizer
// intercepts as usual.

namespace {

std::atomic<long> liveBlocks{0};
std::atomic<unsigned long> failTarget{0};
std::atomic<unsigned long> nothrowSinceArmed{0};
std::atomic<bool> injected{false};
std::atomic<int> suspended{0};

void* allocateBlock(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) {
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
  }
  return block;
}

void freeBlock(void* block) {
  if (block != nullptr) {
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
  }
}

void* allocateOrThrow(std::size_t size) {
  for (;;) {
    void* block = allocateBlock(size);
    if (block != nullptr) {
      return block;
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      throw std::bad_alloc();
    }
    handler();
  }
}

void* allocateOrNull(std::size_t size) {
  unsigned long target = failTarget.load(std::memory_order_relaxed);
  if (target != 0 && suspended.load(std::memory_order_relaxed) == 0 &&
      nothrowSinceArmed.fetch_add(1, std::memory_order_relaxed) + 1 == target) {
    injected.store(true, std::memory_order_relaxed);
    return nullptr;
  }
  return allocateBlock(size);
}

}  // namespace

namespace AllocFailure {

Suspend::Suspend() { suspended.fetch_add(1, std::memory_order_relaxed); }
Suspend::~Suspend() { suspended.fetch_sub(1, std::memory_order_relaxed); }

void failAt(unsigned long n) {
  failTarget.store(0, std::memory_order_relaxed);
  nothrowSinceArmed.store(0, std::memory_order_relaxed);
  injected.store(false, std::memory_order_relaxed);
  failTarget.store(n, std::memory_order_relaxed);
}

void disarm() { failTarget.store(0, std::memory_order_relaxed); }
bool failureInjected() { return injected.load(std::memory_order_relaxed); }
long liveAllocations() { return liveBlocks.load(std::memory_order_relaxed); }

}  // namespace AllocFailure

// ---- The replaced global operators ------------------------------------------

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void operator delete(void* block) noexcept { freeBlock(block); }
void operator delete[](void* block) noexcept { freeBlock(block); }
void operator delete(void* block, std::size_t) noexcept { freeBlock(block); }
void operator delete[](void* block, std::size_t) noexcept { freeBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { freeBlock(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { freeBlock(block); }
