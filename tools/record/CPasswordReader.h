#pragma once
#include <string>

namespace kestrel::record {

// Reads the camera password from a file, standard input or the terminal.
// Nothing read here is ever echoed or printed.
class CPasswordReader {
public:
    // First line of the file ("-": standard input), without its line end.
    static bool FromFile(const std::string& path, std::string& password, std::string& error);
    // Asks on the controlling terminal with echo switched off. A signal that
    // ends the program while it asks (^C) first switches the echo back on.
    static bool FromTerminal(const std::string& prompt, std::string& password, std::string& error);
    // Overwrites the characters before the string is released.
    static void Wipe(std::string& secret);
};

}  // namespace kestrel::record
