// Opening an MPEG stream as a document: the image shows the stream's first frame at its coded size
// and carries the stream's bit rate; the decoder dialog decodes the rest from the image's path.
#pragma once

#include <string>

class CDib;

// Returns the image's block size, or -1 after its message.
int PrepareDibforMpegFile(CDib *dib, const std::string &path);
