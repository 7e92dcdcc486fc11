// The code-byte heap. A block shared by the end of one code-block's code and the start of the next
// goes back only when both codes have been released, which the per-word release flags track.
#include "jpeg2000/codeword_heap.h"

#include "jpeg2000/codec_object.h"
#include "jpeg2000/local_services.h"

namespace zn::j2k {

std::unique_ptr<codeword_heap> create_codeword_heap()
{
    return std::make_unique<codeword_heap>();
}

code_byte_block *codeword_heap::get_block()
{
    heap_chunk *chunk = m_chunks;
    while (chunk && chunk->free_count == 0)
        chunk = chunk->next;
    if (!chunk) {
        chunk = static_cast<heap_chunk *>(local_malloc(kCodewordMemory, sizeof(heap_chunk)));
        chunk->next = m_chunks;
        m_chunks = chunk;
        chunk->free_count = 64;
    }
    for (code_byte_block &block : chunk->blocks)
        if (!block.owner) {
            --chunk->free_count;
            block.owner = chunk;
            block.next = nullptr;
            return &block;
        }
    return nullptr; // unreachable: the free count said a block was free
}

void codeword_heap::return_block(code_byte_block *block)
{
    if (!block || !block->owner)
        return;
    ++block->owner->free_count;
    block->owner = nullptr;
}

void codeword_heap::release_tail(code_byte_block *first, int first_word, code_byte_block *last, int end_word)
{
    auto all_released = [](code_byte_block *b) {
        for (uint8_t flag : b->released)
            if (!flag)
                return false;
        return true;
    };
    auto clear_and_return = [this](code_byte_block *b) {
        for (uint8_t &flag : b->released)
            flag = 0;
        return_block(b);
    };
    int first_end = first == last ? end_word : 8;
    for (int w = first_word; w < first_end && w < 8; ++w)
        first->released[w] = 1;
    for (int w = first == last ? first_word : 0; w < end_word && w < 8; ++w)
        last->released[w] = 1;
    code_byte_block *between = first->next;
    if (all_released(first))
        clear_and_return(first);
    if (first == last)
        return;
    while (between && between != last) {
        code_byte_block *next = between->next;
        return_block(between);
        between = next;
    }
    if (all_released(last))
        clear_and_return(last);
}

void codeword_heap::terminate()
{
    while (m_chunks) {
        heap_chunk *next = m_chunks->next;
        local_free(m_chunks);
        m_chunks = next;
    }
}

} // namespace zn::j2k
