#include "Unpack.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>
#include <zlib.h>

namespace {

// Thrown inside, caught once at the top.
struct Failure {
    UnpackResult result;
    std::string reason;
};

[[noreturn]] void damaged(const std::string& reason) {
    throw Failure{UnpackResult::Damaged, reason};
}

[[noreturn]] void tooLarge(const std::string& reason) {
    throw Failure{UnpackResult::TooLarge, reason};
}

// A file descriptor, closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

std::uint16_t u16(const unsigned char* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t u32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

constexpr std::uint32_t centralSignature = 0x02014b50;
constexpr std::uint32_t localSignature = 0x04034b50;
constexpr std::uint32_t endSignature = 0x06054b50;
constexpr std::size_t centralSize = 46;
constexpr std::size_t localSize = 30;
constexpr std::size_t endSize = 22;
constexpr std::size_t chunk = 64 * 1024;
constexpr unsigned unixHost = 3;

enum class Kind { File, Folder, Link };

struct Entry {
    std::string name;
    std::vector<std::string> parts; // the path below the target folder, the entry itself last
    Kind kind = Kind::File;
    mode_t mode = 0; // permission bits; 0 when the archive does not say
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t packed = 0;
    std::uint64_t size = 0;
    std::uint64_t header = 0; // where its local header starts
};

struct Directory {
    std::vector<Entry> entries;
    std::uint64_t dataEnd = 0; // entries' data lies before the directory
};

// The archive, read with whole reads only: anything short is damage.
class Archive {
public:
    explicit Archive(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info {};
        if (!m_fd.valid() || ::fstat(m_fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
            damaged("cannot read the archive: " + std::string(std::strerror(errno)));
        m_size = std::uint64_t(info.st_size);
    }
    std::uint64_t size() const { return m_size; }
    std::vector<unsigned char> read(std::uint64_t offset, std::uint64_t length) const {
        if (offset > m_size || length > m_size - offset)
            damaged("the archive ends early");
        std::vector<unsigned char> bytes(length);
        std::uint64_t done = 0;
        while (done < length) {
            const ssize_t got = ::pread(m_fd.get(), bytes.data() + done, length - done, off_t(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                damaged("cannot read the archive");
            done += std::uint64_t(got);
        }
        return bytes;
    }

private:
    Fd m_fd;
    std::uint64_t m_size = 0;
};

// "a/b/c" into its parts; absolute names, "." and ".." parts and empty parts are damage.
std::vector<std::string> pathParts(const std::string& name, bool& folder) {
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos)
        damaged("an entry named \"" + name + "\"");
    folder = name.back() == '/';
    std::vector<std::string> parts;
    std::size_t start = 0;
    const std::size_t end = folder ? name.size() - 1 : name.size();
    while (start <= end) {
        const std::size_t slash = std::min(name.find('/', start), end);
        const std::string part = name.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..")
            damaged("an entry named \"" + name + "\"");
        parts.push_back(part);
        start = slash + 1;
    }
    return parts;
}

// The central directory, checked whole before anything is written: the limits apply to what it
// promises here, and later to what the entries really hold.
Directory readDirectory(const Archive& archive, const UnpackLimits& limits) {
    // The end record lies in the last 22 bytes plus at most 64 KiB of comment.
    const std::uint64_t tail = std::min<std::uint64_t>(archive.size(), 0xffff + endSize);
    if (tail < endSize)
        damaged("not a ZIP archive");
    const std::vector<unsigned char> last = archive.read(archive.size() - tail, tail);
    std::optional<std::size_t> end;
    for (std::size_t at = tail - endSize + 1; at-- > 0 && !end;)
        if (u32(&last[at]) == endSignature)
            end = at;
    if (!end)
        damaged("not a ZIP archive");
    const unsigned char* record = &last[*end];
    const std::uint64_t endOffset = archive.size() - tail + *end;
    const std::uint64_t listed = u16(record + 10);
    const std::uint64_t size = u32(record + 12);
    const std::uint64_t offset = u32(record + 16);
    if (u16(record + 4) != 0 || u16(record + 6) != 0)
        damaged("a multi-part archive");
    if (listed == 0xffff || size == 0xffffffff || offset == 0xffffffff)
        damaged("a ZIP64 archive (updates never need one)");
    if (offset > endOffset || size > endOffset - offset)
        damaged("the directory lies outside the archive");

    const std::vector<unsigned char> bytes = archive.read(offset, size);
    Directory directory{{}, offset};
    std::uint64_t promised = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        if (bytes.size() - at < centralSize || u32(&bytes[at]) != centralSignature)
            damaged("a damaged directory");
        if (directory.entries.size() == limits.entries)
            tooLarge("more than " + std::to_string(limits.entries) + " entries");
        const unsigned char* c = &bytes[at];
        const std::size_t nameLength = u16(c + 28);
        const std::size_t rest = nameLength + u16(c + 30) + u16(c + 32);
        if (bytes.size() - at - centralSize < rest)
            damaged("a damaged directory");
        Entry entry;
        entry.name.assign(reinterpret_cast<const char*>(c + centralSize), nameLength);
        entry.method = u16(c + 10);
        entry.crc = u32(c + 16);
        entry.packed = u32(c + 20);
        entry.size = u32(c + 24);
        entry.header = u32(c + 42);
        at += centralSize + rest;
        if (u16(c + 8) & 1)
            damaged(entry.name + ": encrypted");
        if (entry.method != 0 && entry.method != Z_DEFLATED)
            damaged(entry.name + ": compressed with method " + std::to_string(entry.method));
        bool folder = false;
        entry.parts = pathParts(entry.name, folder);
        const mode_t mode = (u16(c + 4) >> 8) == unixHost ? mode_t(u32(c + 38) >> 16) : 0;
        if (folder || S_ISDIR(mode))
            entry.kind = Kind::Folder;
        else if (S_ISLNK(mode))
            entry.kind = Kind::Link;
        else if (mode != 0 && !S_ISREG(mode))
            damaged(entry.name + ": neither a file, a folder nor a link");
        entry.mode = mode & 0777;
        if ((entry.kind == Kind::Folder && entry.size != 0) ||
            (entry.kind == Kind::Link && entry.size >= 4096))
            damaged(entry.name + ": a folder with content or an overlong link");
        promised += entry.size;
        if (promised > limits.bytes)
            tooLarge("unpacks to more than " + std::to_string(limits.bytes) + " bytes");
        directory.entries.push_back(std::move(entry));
    }
    return directory;
}

// The bytes written so far, against the limit.
class Budget {
public:
    explicit Budget(std::uint64_t bytes) : m_left(bytes) {}
    void spend(std::uint64_t bytes) {
        if (bytes > m_left)
            tooLarge("wrote the limit");
        m_left -= bytes;
    }

private:
    std::uint64_t m_left;
};

class Inflater {
public:
    Inflater() {
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
            damaged("zlib did not start");
    }
    ~Inflater() { inflateEnd(&stream); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream stream{};
};

// Hands the entry's content to `sink` chunk by chunk, held to its declared size and checksum.
void readContent(const Archive& archive, const Directory& directory, const Entry& entry, Budget& budget,
                 const std::function<void(const unsigned char*, std::size_t)>& sink) {
    const std::vector<unsigned char> local = archive.read(entry.header, localSize);
    if (u32(local.data()) != localSignature)
        damaged(entry.name + ": no local header");
    std::uint64_t from = entry.header + localSize + u16(&local[26]) + u16(&local[28]);
    if (from > directory.dataEnd || entry.packed > directory.dataEnd - from)
        damaged(entry.name + ": its data lies outside the archive");

    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t produced = 0;
    const auto emit = [&](const unsigned char* bytes, std::size_t length) {
        produced += length;
        if (produced > entry.size)
            damaged(entry.name + ": holds more than the " + std::to_string(entry.size) +
                    " bytes it declares");
        budget.spend(length);
        crc = crc32(crc, bytes, uInt(length));
        sink(bytes, length);
    };
    std::uint64_t left = entry.packed;
    if (entry.method == 0) {
        while (left > 0) {
            const std::vector<unsigned char> in = archive.read(from, std::min<std::uint64_t>(left, chunk));
            from += in.size();
            left -= in.size();
            emit(in.data(), in.size());
        }
    } else {
        Inflater inflater;
        z_stream& z = inflater.stream;
        std::vector<unsigned char> in;
        std::vector<unsigned char> out(chunk);
        for (int status = Z_OK; status != Z_STREAM_END;) {
            if (z.avail_in == 0) {
                if (left == 0)
                    damaged(entry.name + ": its data ends early");
                in = archive.read(from, std::min<std::uint64_t>(left, chunk));
                from += in.size();
                left -= in.size();
                z.next_in = in.data();
                z.avail_in = uInt(in.size());
            }
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            status = inflate(&z, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                damaged(entry.name + ": damaged compressed data");
            emit(out.data(), out.size() - z.avail_out);
        }
    }
    if (produced != entry.size || crc != entry.crc)
        damaged(entry.name + ": its checksum does not match");
}

void writeAll(int fd, const unsigned char* bytes, std::size_t length, const std::string& name) {
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            throw Failure{error == ENOSPC || error == EDQUOT || error == EFBIG ? UnpackResult::TooLarge
                                                                               : UnpackResult::Damaged,
                          name + ": " + std::strerror(error)};
        }
        bytes += written;
        length -= std::size_t(written);
    }
}

// The target folder: every entry is made below it, and nothing is ever reached through a link.
class Target {
public:
    explicit Target(const std::string& folder)
        : m_root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (!m_root.valid())
            damaged(folder + ": " + std::strerror(errno));
    }

    // The folder of the entry's first `depth` parts, made as needed.
    Fd folder(const Entry& entry, std::size_t depth) const {
        Fd current(::dup(m_root.get()));
        for (std::size_t i = 0; i < depth && current.valid(); ++i) {
            const char* part = entry.parts[i].c_str();
            const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
            int next = ::openat(current.get(), part, flags);
            if (next < 0 && errno == ENOENT && (::mkdirat(current.get(), part, 0755) == 0 || errno == EEXIST))
                next = ::openat(current.get(), part, flags);
            if (next < 0)
                damaged(entry.name + ": its folder is a link or a file, or cannot be made");
            current = Fd(next);
        }
        return current;
    }

    void write(const Archive& archive, const Directory& directory, const Entry& entry, Budget& budget) {
        const std::string& leaf = entry.parts.back();
        switch (entry.kind) {
        case Kind::Folder:
            // Its own mode comes last: a folder without write permission must still get its files.
            m_folderModes.emplace_back(entry, entry.mode ? entry.mode : 0755);
            folder(entry, entry.parts.size());
            return;
        case Kind::Link: {
            std::string target;
            readContent(archive, directory, entry, budget,
                        [&](const unsigned char* bytes, std::size_t length) {
                            target.append(reinterpret_cast<const char*>(bytes), length);
                        });
            if (target.empty() || target.find('\0') != std::string::npos ||
                ::symlinkat(target.c_str(), folder(entry, entry.parts.size() - 1).get(), leaf.c_str()) != 0)
                damaged(entry.name + ": the link cannot be made (met twice?)");
            return;
        }
        case Kind::File: {
            const Fd parent = folder(entry, entry.parts.size() - 1);
            const Fd file(::openat(parent.get(), leaf.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!file.valid())
                damaged(entry.name + ": cannot be made (met twice?): " + std::strerror(errno));
            readContent(archive, directory, entry, budget,
                        [&](const unsigned char* bytes, std::size_t length) {
                            writeAll(file.get(), bytes, length, entry.name);
                        });
            if (::fchmod(file.get(), entry.mode ? entry.mode : 0644) != 0)
                damaged(entry.name + ": " + std::strerror(errno));
            return;
        }
        }
    }

    // Folders take the modes the archive gives them, once their contents are in.
    void finish() {
        for (const auto& [entry, mode] : m_folderModes) {
            const Fd dir = folder(entry, entry.parts.size());
            if (::fchmod(dir.get(), mode) != 0)
                damaged(entry.name + ": " + std::strerror(errno));
        }
    }

private:
    Fd m_root;
    std::vector<std::pair<Entry, mode_t>> m_folderModes;
};

} // namespace

UnpackResult unpackZip(const std::string& archivePath, const std::string& folder, const UnpackLimits& limits,
                       const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                       std::string& reason) {
    try {
        const Archive archive(archivePath);
        const Directory directory = readDirectory(archive, limits);
        Target target(folder);
        Budget budget(limits.bytes);
        std::uint64_t done = 0;
        for (const Entry& entry : directory.entries) {
            target.write(archive, directory, entry, budget);
            if (progress)
                progress(++done, directory.entries.size());
        }
        target.finish();
        return UnpackResult::Done;
    } catch (const Failure& failure) {
        reason = failure.reason;
        return failure.result;
    }
}
