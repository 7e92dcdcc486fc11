// Registers what the MPEG decoder gives the documents: the stream opener and the decoder dialog
// (called once at start-up).
#pragma once

void RegisterMpegDecoderModule();
