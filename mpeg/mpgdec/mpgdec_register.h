// Registers what the MPEG decoder gives the documents (called once at start-up).
#pragma once

void RegisterMpegDecoderModule();
