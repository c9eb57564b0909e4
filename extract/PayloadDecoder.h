#pragma once

#include "extract/NoRTLStream.h"
#include "package/StubTypes.h"
#include "platform/Platform.h"

namespace loader {

// The two streams of a decoded payload, both owned by the run from here on.
struct DecodedPayload {
  TStream* Input;   // the compressed bytes
  TStream* Output;  // exactly the decompressed size of setup program bytes
};

// Reads the chosen payload's compressed bytes with one read and decodes them
// (raw LZMA1, properties from the header) into the output stream. Returns the
// two streams; ends the run with PackageDamaged when the bytes cannot be read
// whole, the properties are refused or the decoded size differs.
DecodedPayload DecodePayload(platform::Handle file, const PackageHeader& header, const PayloadDescriptor& payload);

}  // namespace loader
