#pragma once
// The plain reference path a recorder could write by hand: one datagram at a
// time, fixed RTP header, sequence check, payload copied into one assembly
// buffer, the picture checked at the marker. The driver is compared with it.
//
// RTP fixed header, 12 bytes, big-endian; datagrams with CSRCs, an
// extension or padding are not what the cameras send and are ignored:
//
//    0                   1                   2                   3
//   |V=2|P|X|  CC   |M|     PT      |       sequence number         |
//   |                           timestamp                           |
//   |                             SSRC                              |
//   |                   payload: a slice of one JPEG                |
#include <cstddef>
#include <cstdint>
#include <vector>

namespace halyardbench {

class PlainAssembler {
public:
    enum class Result {
        More,     // taken; the picture is not complete yet
        Picture,  // the marker closed a whole, checked picture: see Picture()
        Dropped,  // the datagram, or the picture it closed, was not usable
    };

    explicit PlainAssembler(size_t capacity);

    Result Add(const uint8_t* data, size_t size);

    const uint8_t* Picture() const { return m_buffer.data(); }
    size_t PictureSize() const { return m_pictureSize; }

private:
    std::vector<uint8_t> m_buffer;
    size_t m_size = 0;
    size_t m_pictureSize = 0;
    uint16_t m_nextSequence = 0;
    bool m_haveSequence = false;
    bool m_broken = false;  // joined mid-picture: the start-of-image check catches it
};

}  // namespace halyardbench
