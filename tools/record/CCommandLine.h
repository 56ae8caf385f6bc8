#pragma once
#include <cstdint>
#include <string>

#include "tools/record/RecordOptions.h"

namespace kestrel::record {

// Turns argv into RecordOptions. The help text is the user manual of every
// option, so it lives here next to the parsing.
class CCommandLine {
public:
    enum class Result { Run, Help, Error };  // Help: print HelpText (also --version)

    // On Error, message holds one line without the program name.
    Result Parse(int argc, const char* const* argv, RecordOptions& options);
    const std::string& Message() const { return m_message; }
    const std::string& HelpText() const { return m_help; }

    // "host" or "host:port"; false with a reason on bad input.
    static bool ParseCamera(const std::string& text, CameraTarget& target, std::string& error);
    // "N=on" / "N=off" with N counting from 1.
    static bool ParseOutput(const std::string& text, OutputRequest& request, std::string& error);
    // Shared with the configuration file; errors start with the quoted value.
    static bool ParseResolution(const std::string& text, int32_t& kind, std::string& error);
    static bool ParseInterface(const std::string& text, DriverInterface& api, std::string& error);
    // "500M", "2G", "1.5T", "800000" (bytes; K, M, G, T count in 1024s).
    static bool ParseSize(const std::string& text, uint64_t& bytes);
    // "mkv", "avi", "jpeg", "mkv,jpeg", "avi,jpeg", "both" (mkv and jpeg).
    static bool ParseFormat(const std::string& text, VideoFormat& video, bool& jpeg);

    // "ADDRESS:PORT", ":PORT" or "PORT" for --http.
    static bool ParseListen(const std::string& text, std::string& address, uint16_t& port, std::string& error);

private:
    std::string m_message;
    std::string m_help;
};

}  // namespace kestrel::record
