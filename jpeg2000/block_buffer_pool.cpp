// The buffer pool: a code-block buffer is allocated once and then passed from block to block.
#include "jpeg2000/block_buffer_pool.h"

#include "jpeg2000/codec_object.h"
#include "jpeg2000/local_services.h"

namespace zn::j2k {

std::unique_ptr<block_buffer_pool> create_block_buffer_pool(int rows, int cols)
{
    return std::make_unique<block_buffer_pool>(rows, cols);
}

block_buffer_pool::block_buffer_pool(int rows, int cols)
    : m_rows(rows < 0 ? 0 : rows), m_cols(cols < 0 ? 0 : cols)
{
    m_buffers = static_cast<int32_t **>(local_malloc(kCodingMemory, sizeof(int32_t *) * m_capacity));
}

int32_t *block_buffer_pool::get()
{
    if (m_held == 0) {
        if (m_created == m_capacity) {
            m_capacity = 2 * m_capacity + 1;
            m_buffers = static_cast<int32_t **>(local_realloc(m_buffers, sizeof(int32_t *) * m_capacity));
        }
        m_buffers[m_held++] = static_cast<int32_t *>(
            local_malloc(kCodingMemory, sizeof(int32_t) * static_cast<size_t>(m_rows) * m_cols));
        ++m_created;
    }
    int32_t *buffer = m_buffers[--m_held];
    m_buffers[m_held] = nullptr;
    return buffer;
}

void block_buffer_pool::put(int32_t *buffer)
{
    if (buffer && m_held < m_capacity)
        m_buffers[m_held++] = buffer;
}

void block_buffer_pool::terminate()
{
    if (!m_buffers)
        return;
    for (int i = 0; i < m_held; ++i)
        local_free(m_buffers[i]);
    local_free(m_buffers);
    m_buffers = nullptr;
    m_held = 0;
}

} // namespace zn::j2k
