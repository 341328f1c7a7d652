#include "files/filereading.h"

#include "files/filenames.h"
#include "files/systemcalls.h"
#include "formats/lineformat.h"

#include <QHash>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The mappings a SIGBUS may come from. When another program truncates a
// mapped file, touching a page past the new end raises SIGBUS; the handler
// maps zeros over the rest of that mapping, marks it, and lets the read go
// on. A fault anywhere else gets the previous handler's treatment.
struct Guard
{
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::size_t> size{0};
    std::atomic<bool> hit{false};
};
constexpr int guardCount = 32;
Guard guards[guardCount];
std::atomic<bool> handlerInstalled{false};
struct sigaction previousHandler;
std::uintptr_t pageSize = 4096;

void onBusError(int signal, siginfo_t *info, void *context)
{
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Guard &guard : guards) {
        const std::uintptr_t start = guard.start.load();
        const std::size_t size = guard.size.load();
        if (start == 0 || address < start || address >= start + size)
            continue;
        const std::uintptr_t page = address & ~(pageSize - 1);
        if (mmap(reinterpret_cast<void *>(page), start + size - page, PROT_READ,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0)
            != MAP_FAILED) {
            guard.hit = true;
            return;
        }
    }
    if (previousHandler.sa_flags & SA_SIGINFO) {
        previousHandler.sa_sigaction(signal, info, context);
        return;
    }
    sigaction(SIGBUS, &previousHandler, nullptr);
}

int guardMapping(void *map, std::size_t size)
{
    if (!handlerInstalled.exchange(true)) {
        pageSize = std::uintptr_t(sysconf(_SC_PAGESIZE));
        struct sigaction action = {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &previousHandler);
    }
    for (int i = 0; i < guardCount; ++i) {
        std::uintptr_t expected = 0;
        guards[i].size = 0;
        if (guards[i].start.compare_exchange_strong(expected, reinterpret_cast<std::uintptr_t>(map))) {
            guards[i].hit = false;
            guards[i].size = size;
            return i;
        }
    }
    return -1;
}

qint64 modificationTime(const struct stat &st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

} // namespace

FileBytes::~FileBytes()
{
    if (m_map) {
        munmap(m_map, size_t(m_mapSize));
        if (m_guard >= 0) {
            guards[m_guard].size = 0;
            guards[m_guard].start = 0;
        }
    }
    if (m_fd >= 0)
        close(m_fd);
}

bool FileBytes::load(const QString &path, FileError *error)
{
    auto fail = [&](int errnum, FileError::Reason why = FileError::NoReason) {
        if (error)
            *error = FileError(FileError::Read, path, errnum, why);
        return false;
    };
    m_fd = open(nameToNative(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (m_fd < 0 || systemCalls().fstat(m_fd, &st) != 0)
        return fail(errno);
    if (S_ISDIR(st.st_mode))
        return fail(0, FileError::IsDirectory);
    const bool regular = S_ISREG(st.st_mode);
    if (regular && st.st_size > maxSubtitleFileSize)
        return fail(0, FileError::TooLarge);
    m_size = regular ? st.st_size : -1;
    m_mtime = modificationTime(st);
    m_device = st.st_dev;
    m_inode = st.st_ino;
    // A regular file is mapped, and its pages brought in at once: much
    // cheaper than copying it into fresh memory. Anything else (a pipe, a
    // device) is read, up to the same limit.
    if (regular && st.st_size > 0) {
        int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
        flags |= MAP_POPULATE;
#endif
        void *map = mmap(nullptr, size_t(st.st_size), PROT_READ, flags, m_fd, 0);
        if (map != MAP_FAILED) {
            m_map = map;
            m_mapSize = qsizetype(st.st_size);
            m_guard = guardMapping(map, size_t(st.st_size));
            m_view = QByteArrayView(static_cast<const char *>(map), m_mapSize);
            if (m_guard >= 0)
                return true;
            // No guard left: a copy cannot be cut short under us.
            m_copy = QByteArray(static_cast<const char *>(map), m_mapSize);
            munmap(map, size_t(m_mapSize));
            m_map = nullptr;
            m_view = m_copy;
            return true;
        }
    }
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = read(m_fd, chunk.data(), size_t(chunk.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(errno);
        if (got == 0)
            break;
        if (m_copy.size() + got > maxSubtitleFileSize)
            return fail(0, FileError::TooLarge);
        m_copy.append(chunk.constData(), got);
    }
    m_view = m_copy;
    return true;
}

void FileBytes::release(qsizetype end)
{
    const auto page = qsizetype(pageSize);
    if (m_map && end >= page)
        madvise(m_map, size_t(std::min(end, m_mapSize) / page * page), MADV_DONTNEED);
}

bool FileBytes::changedWhileRead() const
{
    if (m_guard >= 0 && guards[m_guard].hit)
        return true;
    struct stat st;
    if (m_fd < 0 || m_size < 0 || fstat(m_fd, &st) != 0)
        return false;
    return st.st_size != m_size || modificationTime(st) != m_mtime;
}

bool readAllCapped(QIODevice &in, QByteArray &bytes, FileError *error)
{
    bytes.clear();
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 got = in.read(chunk.data(), chunk.size());
        if (got < 0) {
            if (error)
                *error = FileError(FileError::Read, QString(), in.errorString());
            return false;
        }
        if (got == 0 && (in.atEnd() || !in.waitForReadyRead(-1)))
            return true;
        if (bytes.size() + got > maxSubtitleFileSize) {
            if (error)
                *error = FileError(FileError::Read, QString(), FileError::TooLarge);
            return false;
        }
        bytes.append(chunk.constData(), got);
    }
}

bool readSubtitleFile(const QString &path, SubtitleText &result, FileError *error,
                      const QString &encoding, FileStamp *stamp, QByteArray *hash)
{
    for (int tries = 0; tries < 3; ++tries) {
        FileBytes bytes;
        if (!bytes.load(path, error))
            return false;
        result = decodeSubtitleBytes(bytes.bytes(), encoding);
        if (hash)
            *hash = contentHash(bytes.bytes());
        if (!bytes.changedWhileRead()) {
            if (stamp)
                *stamp = bytes.stamp();
            return true;
        }
    }
    result = SubtitleText();
    if (error)
        *error = FileError(FileError::Read, path, FileError::KeptChanging);
    return false;
}

double headerRate(QByteArrayView bytes, const QString &encoding)
{
    const QString start = decodeSubtitleBytes(bytes.first(std::min<qsizetype>(bytes.size(), 4096)), encoding).text;
    const qsizetype end = start.indexOf(u'\n');
    return frameRateHeader(QStringView(start).first(end < 0 ? start.size() : end));
}
