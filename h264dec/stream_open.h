// Opening an H.264 stream as a document: the first picture of the stream becomes the document image.
#pragma once

#include <string>

class CDib;

// The image's block size, or -1 after the message (the document then refuses to open). The
// leaky-bucket file (userDir + "H264LeakyBucketParam.cfg") is only checked; it need not exist.
int PrepareDibforH264File(CDib *dib, const std::string &path, const std::string &leakyBucketFile);
