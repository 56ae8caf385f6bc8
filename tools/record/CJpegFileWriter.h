#pragma once
#include <cstdio>
#include <string>

#include "tools/record/IPictureSink.h"

namespace kestrel::record {

// One JPEG file per picture (NNNNNN.jpg) plus index.csv with one row per
// file: frame,arrival_time,size,width,height.
class CJpegFileWriter : public IPictureSink {
public:
    explicit CJpegFileWriter(std::string directory) : m_dir(std::move(directory)) {}
    ~CJpegFileWriter() override;

    bool Open() override;
    bool Write(const Picture& picture) override;
    bool Close() override;
    const std::string& Error() const override { return m_error; }

    static std::string FileName(uint64_t number);

private:
    bool Fail(const std::string& what, const std::string& path);

    std::string m_dir;
    std::string m_path;  // reused for every picture
    std::FILE* m_index = nullptr;
    std::string m_error;
};

}  // namespace kestrel::record
