#include "tests/support/AllocFailure.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

// Every block carries a header in front of it that remembers its size, so that
// delete can take the bytes off the live count. The header keeps the block
// aligned for any fundamental type. Blocks come from malloc and go back to
// free, which AddressSanitizer intercepts as usual.

namespace {

struct alignas(std::max_align_t) BlockHeader {
  std::size_t size;
};

std::atomic<unsigned long> totalAllocations{0};
std::atomic<long> liveBlocks{0};
std::atomic<long long> liveByteTotal{0};

std::atomic<unsigned long> failTarget{0};
std::atomic<unsigned long> nothrowSinceArmed{0};
std::atomic<bool> injected{false};
std::atomic<int> suspended{0};

void* allocateBlock(std::size_t size) {
  void* raw = std::malloc(sizeof(BlockHeader) + size);
  if (raw == nullptr) {
    return nullptr;
  }
  BlockHeader* header = static_cast<BlockHeader*>(raw);
  header->size = size;
  totalAllocations.fetch_add(1, std::memory_order_relaxed);
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  liveByteTotal.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
  return header + 1;
}

void freeBlock(void* block) {
  if (block == nullptr) {
    return;
  }
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  liveByteTotal.fetch_sub(static_cast<long long>(header->size), std::memory_order_relaxed);
  std::free(header);
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
  if (target != 0 && suspended.load(std::memory_order_relaxed) == 0) {
    unsigned long seen = nothrowSinceArmed.fetch_add(1, std::memory_order_relaxed) + 1;
    if (seen == target) {
      injected.store(true, std::memory_order_relaxed);
      return nullptr;
    }
  }
  return allocateBlock(size);
}

}  // namespace

namespace AllocFailure {

Suspend::Suspend() {
  suspended.fetch_add(1, std::memory_order_relaxed);
}

Suspend::~Suspend() {
  suspended.fetch_sub(1, std::memory_order_relaxed);
}

void failAt(unsigned long n) {
  failTarget.store(0, std::memory_order_relaxed);
  nothrowSinceArmed.store(0, std::memory_order_relaxed);
  injected.store(false, std::memory_order_relaxed);
  failTarget.store(n, std::memory_order_relaxed);
}

void disarm() {
  failTarget.store(0, std::memory_order_relaxed);
}

bool isArmed() {
  return failTarget.load(std::memory_order_relaxed) != 0;
}

bool failureInjected() {
  return injected.load(std::memory_order_relaxed);
}

unsigned long nothrowCountSinceArmed() {
  return nothrowSinceArmed.load(std::memory_order_relaxed);
}

unsigned long allocationCount() {
  return totalAllocations.load(std::memory_order_relaxed);
}

long liveAllocations() {
  return liveBlocks.load(std::memory_order_relaxed);
}

long long liveBytes() {
  return liveByteTotal.load(std::memory_order_relaxed);
}

}  // namespace AllocFailure

// ---- The replaced global operators ------------------------------------------

void* operator new(std::size_t size) {
  return allocateOrThrow(size);
}

void* operator new[](std::size_t size) {
  return allocateOrThrow(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocateOrNull(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocateOrNull(size);
}

void operator delete(void* block) noexcept {
  freeBlock(block);
}

void operator delete[](void* block) noexcept {
  freeBlock(block);
}

void operator delete(void* block, std::size_t) noexcept {
  freeBlock(block);
}

void operator delete[](void* block, std::size_t) noexcept {
  freeBlock(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
  freeBlock(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
  freeBlock(block);
}
