// The floor for a firmware transfer over SG_IO: one open of the drive's node,
// then WRITE BUFFER for every chunk of a file, mode 4 with the chunk's offset
// and mode 5 for the last, and nothing else.
//
//   sg_write_loop DEVICE FILE CHUNK
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: sg_write_loop DEVICE FILE CHUNK\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), {}};
    const size_t chunk = std::strtoul(argv[3], nullptr, 0);
    if (chunk == 0 || image.size() < chunk || chunk > 0xFFFFFF) {
        std::fprintf(stderr, "sg_write_loop: no whole chunk of %zu bytes in %s\n", chunk, argv[2]);
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    const size_t chunks = image.size() / chunk;
    for (size_t i = 0; i < chunks; ++i) {
        const size_t offset = i * chunk;
        uint8_t cdb[10] = {0x3B,
                           static_cast<uint8_t>(i + 1 == chunks ? 5 : 4),
                           0,
                           static_cast<uint8_t>(offset >> 16),
                           static_cast<uint8_t>(offset >> 8),
                           static_cast<uint8_t>(offset),
                           static_cast<uint8_t>(chunk >> 16),
                           static_cast<uint8_t>(chunk >> 8),
                           static_cast<uint8_t>(chunk),
                           0};
        uint8_t sense[32] = {};
        sg_io_hdr_t header{};
        header.interface_id = 'S';
        header.dxfer_direction = SG_DXFER_TO_DEV;
        header.dxfer_len = static_cast<unsigned>(chunk);
        header.dxferp = image.data() + offset;
        header.cmd_len = sizeof cdb;
        header.cmdp = cdb;
        header.mx_sb_len = sizeof sense;
        header.sbp = sense;
        header.timeout = 60000;
        if (ioctl(fd, SG_IO, &header) < 0 || header.status != 0 || header.host_status != 0) {
            std::fprintf(stderr,
                         "sg_write_loop: chunk %zu failed (status %u, sense %02X-%02X-%02X)\n", i,
                         header.status, sense[2], sense[12], sense[13]);
            close(fd);
            return 1;
        }
    }
    close(fd);
    return 0;
}
