#pragma once

namespace kestrel::record {

// The live view's one page: HTML, CSS and script in the program itself,
// nothing fetched from elsewhere.
class CLivePage {
public:
    static const char* Html();
};

}  // namespace kestrel::record
