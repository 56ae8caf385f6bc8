#pragma once

namespace kestrel {

enum DebugLevel : int {
    LevelError = 1,
    LevelWarning = 2,
    LevelInfo = 3,
    LevelNone = 4,  // never delivered
    LevelDebug = 100,
};

}  // namespace kestrel
