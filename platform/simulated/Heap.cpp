// The simulated process heap over malloc, with every block's size kept so
// that the bytes in use and their peak can be counted and faults scripted.
// Reallocation always moves the block, and new bytes are filled with 0xCD,
// so a caller that keeps an old pointer or counts on cleared memory shows.
#include <stdlib.h>
#include <string.h>

#include "platform/simulated/State.h"

namespace sim {

namespace {

// True when one more allocation may take the bytes in use from `inUse` to
// `inUse - released + size`.
bool Allowed(SimulatedWindows& win, size_t released, size_t size) {
  ++win.state().allocationCount;
  if (win.failAllocationNumber == win.state().allocationCount) return false;
  const size_t remaining = win.heapInUse - released;
  return size <= win.heapLimit && remaining <= win.heapLimit - size;
}

void* NewBlock(size_t size) {
  void* block = malloc(size == 0 ? 1 : size);
  if (block == nullptr) abort();
  memset(block, kFreshHeapByte, size);
  return block;
}

void Count(SimulatedWindows& win, void* block, size_t size) {
  win.state().blocks[block] = size;
  win.heapInUse += size;
  if (win.heapInUse > win.heapPeak) win.heapPeak = win.heapInUse;
}

}  // namespace

}  // namespace sim

namespace platform {

using sim::Record;
using sim::SimulatedWindows;

void* HeapAlloc(size_t size) {
  SimulatedWindows& win = sim::Win();
  SimulatedWindows::State& state = win.state();
  if (state.processEnded) {
    // Only destructors run after the end; what they take is not counted.
    void* block = sim::NewBlock(size);
    state.orphanedBlocks[block] = size;
    return block;
  }
  Record("HeapAlloc " + std::to_string(size));
  if (!sim::Allowed(win, 0, size)) return nullptr;
  void* block = sim::NewBlock(size);
  sim::Count(win, block, size);
  return block;
}

void* HeapReAlloc(void* block, size_t size) {
  SimulatedWindows& win = sim::Win();
  SimulatedWindows::State& state = win.state();
  auto found = state.blocks.find(block);
  if (found == state.blocks.end()) {
    Record("HeapReAlloc invalid " + std::to_string(size));
    return nullptr;
  }
  const size_t old = found->second;
  Record("HeapReAlloc " + std::to_string(old) + " " + std::to_string(size));
  if (!state.processEnded && !sim::Allowed(win, old, size)) return nullptr;  // the old block stays valid
  void* moved = sim::NewBlock(size);
  memcpy(moved, block, old < size ? old : size);
  free(block);
  state.blocks.erase(found);
  win.heapInUse -= old;
  sim::Count(win, moved, size);
  return moved;
}

void HeapFree(void* block) {
  // A block given back after its Windows is gone was freed with it.
  SimulatedWindows* current = sim::CurrentOrNull();
  if (current == nullptr || block == nullptr) return;
  SimulatedWindows& win = *current;
  SimulatedWindows::State& state = win.state();
  auto orphan = state.orphanedBlocks.find(block);
  if (orphan != state.orphanedBlocks.end()) {
    free(block);
    state.orphanedBlocks.erase(orphan);
    return;
  }
  auto found = state.blocks.find(block);
  if (found == state.blocks.end()) {
    Record("HeapFree invalid");
    return;
  }
  // After the end the process's memory is gone with it: the counts keep
  // what it held when it ended.
  if (state.processEnded) return;
  Record("HeapFree " + std::to_string(found->second));
  win.heapInUse -= found->second;
  free(block);
  state.blocks.erase(found);
}

}  // namespace platform
