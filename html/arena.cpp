#include "html/arena.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

namespace glintmark::html {

namespace {

constexpr std::size_t maxChunkSize = 1024 * 1024;

std::byte* alignUp(std::byte* p, std::size_t alignment) {
  const auto address = reinterpret_cast<std::uintptr_t>(p);
  return p + ((alignment - address % alignment) % alignment);
}

}  // namespace

void* Arena::allocate(std::size_t bytes, std::size_t alignment) {
  std::byte* at = m_next ? alignUp(m_next, alignment) : nullptr;
  if (at && bytes <= static_cast<std::size_t>(m_end - at)) {
    m_used += static_cast<std::size_t>(at + bytes - m_next);
    m_next = at + bytes;
    return at;
  }
  m_used += bytes;
  if (bytes + alignment > m_chunkSize / 4) {
    // A large block gets a chunk of its own; the current one stays open.
    auto chunk = std::make_unique<std::byte[]>(bytes + alignment);
    std::byte* block = alignUp(chunk.get(), alignment);
    m_chunks.push_back(std::move(chunk));
    m_reserved += bytes + alignment;
    return block;
  }
  newChunk(bytes + alignment);
  at = alignUp(m_next, alignment);
  m_next = at + bytes;
  return at;
}

void Arena::adopt(std::unique_ptr<std::byte[]> chunk, std::size_t bytes) {
  // Every chunk is kept: the copy of a tree fills them as the pool gives
  // them back, and what the copy leaves the spans of the pass fill, before
  // any memory is taken from the system.
  if (bytes >= 64 * 1024) m_spares.push_back({std::move(chunk), bytes});
}

void Arena::newChunk(std::size_t atLeast) {
  std::size_t size = m_chunkSize;
  while (size < atLeast) size *= 2;
  std::unique_ptr<std::byte[]> chunk;
  if (!m_spares.empty() && m_spares.back().size >= atLeast) {
    size = m_spares.back().size;
    chunk = std::move(m_spares.back().memory);
    m_spares.pop_back();
  } else {
    // make_unique<T[]> would zero the chunk: touching memory that may never
    // be used costs page faults.
    chunk.reset(new std::byte[size]);
  }
  m_next = chunk.get();
  m_end = m_next + size;
  m_chunks.push_back(std::move(chunk));
  m_reserved += size;
  if (m_chunkSize < maxChunkSize) m_chunkSize *= 2;
}

void Arena::shrinkLast(void* block, std::size_t oldBytes, std::size_t bytes) {
  auto* start = static_cast<std::byte*>(block);
  if (start + oldBytes == m_next && bytes <= oldBytes) {
    m_next = start + bytes;
    m_used -= oldBytes - bytes;
  }
}

std::string_view Arena::copy(std::string_view text) {
  if (text.empty()) return {};
  char* chars = allocateArray<char>(text.size());
  std::memcpy(chars, text.data(), text.size());
  return {chars, text.size()};
}

// --- SizeClassPool ----------------------------------------------------------
//
// Each block carries an 8-byte header: its size class and the index of the
// chunk it lies in, whose count of blocks in use it keeps. Up to 256 bytes
// the classes step by 16; above, four classes per power of two, so a block
// wastes at most a quarter of its size.

namespace {

constexpr std::size_t headerSize = 8;

struct BlockHeader {
  std::uint32_t sizeClass;
  std::uint32_t chunk;
};
static_assert(sizeof(BlockHeader) == headerSize);

std::size_t classOf(std::size_t total) {
  if (total <= 256) return total == 0 ? 0 : (total - 1) / 16;
  const std::size_t k = std::bit_width(total - 1) - 1;  // 2^k < total <= 2^(k+1)
  const std::size_t sub = ((total - 1) >> (k - 2)) & 3;
  return 16 + (k - 8) * 4 + sub;
}

std::size_t sizeOfClass(std::size_t sizeClass) {
  if (sizeClass < 16) return (sizeClass + 1) * 16;
  const std::size_t k = (sizeClass - 16) / 4 + 8;
  const std::size_t sub = (sizeClass - 16) % 4;
  return (4 + sub + 1) << (k - 2);
}

BlockHeader& headerOf(void* block) {
  return *reinterpret_cast<BlockHeader*>(static_cast<std::byte*>(block) - headerSize);
}

}  // namespace

std::byte* SizeClassPool::newChunk(std::size_t bytes) {
  // Not zeroed (make_unique<T[]> would): touching memory that may never be
  // used costs page faults.
  std::unique_ptr<std::byte[]> memory(new std::byte[bytes]);
  std::byte* start = memory.get();
  m_chunks.push_back({std::move(memory), bytes, 0});
  m_reserved += bytes;
  return start;
}

void* SizeClassPool::allocate(std::size_t bytes) noexcept {
  // Beyond this no size class serves the request, and on a 32-bit build the
  // header added below must not wrap the size around.
  constexpr std::uint64_t largest = std::min<std::uint64_t>(std::uint64_t{1} << 40, SIZE_MAX / 4);
  if (bytes > largest) return nullptr;
  const std::size_t sizeClass = classOf(bytes + headerSize);
  if (sizeClass >= classCount) return nullptr;
  if (FreeBlock* free = m_free[sizeClass]) {
    m_free[sizeClass] = free->next;
    ++m_chunks[headerOf(free).chunk].blocksInUse;
    return free;
  }
  const std::size_t size = sizeOfClass(sizeClass);
  std::byte* block;
  std::size_t chunk;
  try {
    if (size > m_chunkSize / 4) {
      // A large block gets a chunk of its own; the open one stays open.
      block = newChunk(size);
      chunk = m_chunks.size() - 1;
    } else {
      if (!m_next || size > static_cast<std::size_t>(m_end - m_next)) {
        m_next = newChunk(m_chunkSize);
        m_end = m_next + m_chunkSize;
        m_open = m_chunks.size() - 1;
        if (m_chunkSize < maxChunkSize) m_chunkSize *= 2;
      }
      block = m_next;
      m_next += size;
      chunk = m_open;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  ++m_chunks[chunk].blocksInUse;
  void* payload = block + headerSize;
  headerOf(payload) = {static_cast<std::uint32_t>(sizeClass), static_cast<std::uint32_t>(chunk)};
  return payload;
}

void SizeClassPool::release(void* block) noexcept {
  if (!block) return;
  const BlockHeader header = headerOf(block);
  Chunk& chunk = m_chunks[header.chunk];
  --chunk.blocksInUse;
  if (m_draining) {
    if (chunk.blocksInUse == 0) releaseChunk(header.chunk);
    return;
  }
  auto* free = static_cast<FreeBlock*>(block);
  free->next = m_free[header.sizeClass];
  m_free[header.sizeClass] = free;
}

void SizeClassPool::drain(Arena* heir) noexcept {
  m_draining = true;
  m_heir = heir;
  for (FreeBlock*& list : m_free) list = nullptr;
  for (std::size_t i = 0; i < m_chunks.size(); ++i) {
    if (m_chunks[i].memory && m_chunks[i].blocksInUse == 0) releaseChunk(i);
  }
}

void SizeClassPool::releaseChunk(std::size_t index) noexcept {
  Chunk& chunk = m_chunks[index];
  if (index == m_open && m_next) m_next = m_end = nullptr;  // nothing more is carved from it
  m_reserved -= chunk.size;
  if (m_heir) {
    try {
      m_heir->adopt(std::move(chunk.memory), chunk.size);
    } catch (const std::bad_alloc&) {
      // The heir could not keep it: it went back to the system.
    }
  }
  chunk.memory.reset();
}

}  // namespace glintmark::html
