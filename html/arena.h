// Arena: the memory of one document, taken in large chunks and given back all
// at once when the document goes.
//
// A page of 10 MB makes a million nodes, attribute lists and text pieces;
// each from malloc costs its bookkeeping, and freeing them one by one costs
// as much again. From an arena each costs a pointer bump, sits next to its
// neighbours in document order, and nothing is freed before the end.
//
// SizeClassPool does the same for a library that frees as it goes (gumbo's
// allocator hooks): freed blocks are kept on a list per size and handed out
// again, and the pool gives everything back at once. Once the library is done
// and its result is being copied out, drain() lets each chunk go back to the
// system as soon as the last block in it is released, so that the copy grows
// while the original shrinks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace glintmark::html {

class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // allocate: `bytes` of uninitialised memory aligned to `alignment` (a power
  // of two up to 16); throws std::bad_alloc when memory runs out.
  void* allocate(std::size_t bytes, std::size_t alignment = alignof(std::max_align_t));
  // shrinkLast: gives back the tail of the block `allocate` handed out last,
  // keeping its first `bytes`; any other block is left as it is.
  void shrinkLast(void* block, std::size_t oldBytes, std::size_t bytes);

  template <typename T>
  T* allocateArray(std::size_t count) {
    return static_cast<T*>(allocate(count * sizeof(T), alignof(T)));
  }
  // copy: the characters as a view into the arena.
  std::string_view copy(std::string_view text);

  // The bytes taken from the system so far, and those handed out (alignment
  // included).
  std::size_t reserved() const { return m_reserved; }
  std::size_t used() const { return m_used; }

  // adopt: a chunk of `bytes` that another holder is done with (a draining
  // SizeClassPool), to be filled before any new one is taken: its pages are
  // already in memory, so filling it costs no page faults. The chunks are
  // kept until the arena goes.
  void adopt(std::unique_ptr<std::byte[]> chunk, std::size_t bytes);

 private:
  void newChunk(std::size_t atLeast);

  struct Spare {
    std::unique_ptr<std::byte[]> memory;
    std::size_t size;
  };
  std::vector<Spare> m_spares;
  std::vector<std::unique_ptr<std::byte[]>> m_chunks;
  std::byte* m_next = nullptr;
  std::byte* m_end = nullptr;
  std::size_t m_chunkSize = 64 * 1024;
  std::size_t m_reserved = 0;
  std::size_t m_used = 0;
};

class SizeClassPool {
 public:
  SizeClassPool() = default;
  SizeClassPool(const SizeClassPool&) = delete;
  SizeClassPool& operator=(const SizeClassPool&) = delete;

  // allocate: a block of at least `bytes`, aligned to 8; nullptr when memory
  // runs out (gumbo's hooks report failure that way).
  void* allocate(std::size_t bytes) noexcept;
  // release: the block goes back to its size's list; nullptr is ignored.
  // Once draining, the block is never handed out again, and its chunk goes
  // back to the system when none of its blocks is left in use.
  void release(void* block) noexcept;
  // drain: from now on released blocks are given back, not kept: the lists
  // of free blocks are dropped, and with them every chunk that holds nothing
  // else. Blocks still in use stay valid until released or the pool goes.
  // A chunk given back goes to `heir` (when given) to fill, else to the system.
  void drain(Arena* heir = nullptr) noexcept;

  // The bytes of the chunks the pool holds now.
  std::size_t reserved() const { return m_reserved; }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  struct Chunk {
    std::unique_ptr<std::byte[]> memory;
    std::size_t size;
    std::size_t blocksInUse;
  };
  static constexpr std::size_t classCount = 160;

  std::byte* newChunk(std::size_t bytes);
  void releaseChunk(std::size_t index) noexcept;

  std::vector<Chunk> m_chunks;
  std::byte* m_next = nullptr;  // the open chunk's free space
  std::byte* m_end = nullptr;
  std::size_t m_open = 0;  // the open chunk's index
  std::size_t m_chunkSize = 64 * 1024;
  std::size_t m_reserved = 0;
  bool m_draining = false;
  Arena* m_heir = nullptr;
  FreeBlock* m_free[classCount] = {};
};

}  // namespace glintmark::html
