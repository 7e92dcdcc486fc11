// Storage for code bytes. A code-block's code is a chain of small fixed blocks of eight 32-bit
// words (four bytes each, first byte most significant), handed out from chunks of 64 so that the
// thousands of short codes of an image cost few allocations.
#pragma once

#include <cstdint>
#include <memory>

namespace zn::j2k {

struct heap_chunk;

struct code_byte_block
{
    uint32_t words[8];
    uint8_t released[8]; // 1 once the word's code has been given up
    code_byte_block *next;
    heap_chunk *owner; // null while free
};

struct heap_chunk
{
    code_byte_block blocks[64];
    int32_t free_count;
    heap_chunk *next;
};

class codeword_heap
{
public:
    codeword_heap() = default;
    ~codeword_heap() { terminate(); }
    codeword_heap(const codeword_heap &) = delete;
    codeword_heap &operator=(const codeword_heap &) = delete;

    code_byte_block *get_block();
    void return_block(code_byte_block *block);
    // Releases the words [first_word of first, end_word of last) and returns every block whose
    // eight words are all released; blocks strictly between first and last are returned outright.
    void release_tail(code_byte_block *first, int first_word, code_byte_block *last, int end_word);
    void terminate();

    const heap_chunk *chunks() const { return m_chunks; }

private:
    heap_chunk *m_chunks = nullptr; // newest first
};

std::unique_ptr<codeword_heap> create_codeword_heap();

} // namespace zn::j2k
