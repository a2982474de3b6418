// quelt-decode [FILE]: shows what a meter sends. Runs the program's own plain
// framing and decoder over raw bytes (standard input when no file is named),
// carrying the scale set from frame to frame from the stored profile's set, and
// prints one tab-separated line per decoded frame:
//   ValueText, CountValue, UnitText, CouplingText, RangeModeText, set flags
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "display/FrameDecoder.h"
#include "link/serial/FrameAssembler.h"

int main(int argc, char** argv)
{
    if (argc > 2 || (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")))) {
        std::fprintf(stderr, "usage: quelt-decode [FILE]\n");
        return argc > 2 ? 2 : 0;
    }
    FILE* in = stdin;
    if (argc == 2 && std::strcmp(argv[1], "-") != 0) {
        in = std::fopen(argv[1], "rb");
        if (!in) {
            std::fprintf(stderr, "quelt-decode: cannot read '%s': %s\n", argv[1], std::strerror(errno));
            return 2;
        }
    }

    ScaleSet scale = ScaleSet::Set6();
    FrameAssembler assembler;
    assembler.onFrame = [&](const std::string& frameText) {
        const DecodedFrame d = DecodeFrame(frameText, scale);
        scale = d.scale;
        const Reading& r = d.reading;
        std::string flags;
        for (int f = 0; f < kFlagCount; ++f)
            if (r.Flags[Flag(f)]) {
                if (!flags.empty()) flags += ',';
                flags += FlagName(Flag(f));
            }
        std::printf("%s\t%ld\t%s\t%s\t%s\t%s\n", r.ValueText.c_str(), std::lround(r.CountValue),
                    r.UnitText.c_str(), r.CouplingText.c_str(), r.RangeModeText.c_str(), flags.c_str());
    };

    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        // Byte by byte, so a frame that fails to decode costs no more than it
        // does in the program (the run after it); the failure is reported and
        // decoding goes on.
        for (size_t i = 0; i < n; ++i) {
            try {
                assembler.RECEIVE_COM_Data(buffer + i, 1);
            } catch (const std::exception& e) {
                std::fflush(stdout);
                std::fprintf(stderr, "%s\n", e.what());
            }
        }
    }
    const bool failed = std::ferror(in);
    if (in != stdin) std::fclose(in);
    if (failed) {
        std::fprintf(stderr, "quelt-decode: read error\n");
        return 2;
    }
    return 0;
}
