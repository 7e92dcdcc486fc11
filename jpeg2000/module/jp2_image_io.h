// The codec's image reader and writer bound to a document's images instead of files: the reader
// takes the grey levels of the document's own image row by row from the top, the writer builds the
// document's work image as a 24-bit grey picture from the decoded rows. One component each.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/invocation.h"

#include <cstdint>
#include <memory>

class CDib;

namespace zn::j2k {

class command_line;

inline constexpr char kImageIoMemory[] = "IMAGE I/O OBJECT MEMORY";

// What both objects keep of their single component.
struct image_io_component
{
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t rows_left = 0;
    int32_t line_bytes = 0;
    int32_t bit_depth = 8;
    int32_t is_signed = 0;
    int32_t sample_bytes = 1;
};

class Jp2_zantho_image_reader_interface : public image_line_reader
{
public:
    static std::unique_ptr<Jp2_zantho_image_reader_interface> create();

    // One component, the bound image's size; an unbound or unreadable image ends the run.
    void initialize(int *num_components, command_line *args);
    usage_table get_usage() const;
    void get_dims(int component, int *dims) const; // rows, columns
    int get_precision(int component) const;
    // The next row from the top; returns the rows still to read. Always the whole single component.
    int get_line(int32_t *line, int component, int width);
    void terminate();
    // Binds the image the next reader reads (the document's own image); null clears the binding.
    static void set_source(const CDib *image);

    void get_line(int component, int32_t *line, int width) override { get_line(line, component, width); }

private:
    int m_num_components = 0;
    std::unique_ptr<image_io_component> m_component;
    const CDib *m_image = nullptr;
};

class Jp2_zantho_image_writer_interface : public image_line_writer
{
public:
    static std::unique_ptr<Jp2_zantho_image_writer_interface> create();

    // Makes the bound image a 24-bit picture of the first component's size (dims: rows, columns
    // first of four integers per component). More than one component is told and the rest dropped.
    void initialize(int num_components, const int *precisions, const int *dims, command_line *args);
    usage_table get_usage() const;
    // Stores the next row from the top, each sample limited to 0..255 in all three bytes.
    void put_line(const int32_t *line, int component, int width);
    void terminate();
    // Binds the image the next writer fills (the document's work image); null clears the binding.
    static void set_target(CDib *image);

    void put_line(int component, const int32_t *line, int width) override
    {
        put_line(line, component, width);
    }

private:
    int m_num_components = 0;
    std::unique_ptr<image_io_component> m_component;
    CDib *m_image = nullptr;
};

// The bindings last one run: they are cleared when this goes, whatever way the run ended, so no
// reader or writer can reach a document that has closed since.
class image_bindings
{
public:
    image_bindings(const CDib *source, CDib *target);
    ~image_bindings();
    image_bindings(const image_bindings &) = delete;
    image_bindings &operator=(const image_bindings &) = delete;
};

} // namespace zn::j2k
