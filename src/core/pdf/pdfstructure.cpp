#define POINTERHOLDER_TRANSITION 4
#include "core/pdf/pdfstructure.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/FileInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using pdfverdict::Damage;
using pdfverdict::State;
using pdfverdict::Unchecked;

namespace {

// A page's decoded content goes nowhere: it only has to decode.
class Sink : public Pipeline
{
public:
    Sink() : Pipeline("content sink", nullptr) {}
    void write(unsigned char const *, size_t) override {}
    void finish() override {}
};

// What one pass over the file found.
struct Pass
{
    bool opened = false;
    bool clean = false; // no warning and no damage: nothing had to be repaired
    bool encrypted = false;
    bool passwordNeeded = false;
    int pages = -1;
    Damage damage = Damage::None;
    std::string detail;
};

// The file as the check reads it. A small one is read into memory a block at a time as the PDF library
// asks for it: the library seeks to and fro some hundred times in a file, each seek through a FILE a
// system call or two, and of a paper it reads only some parts (its head, its objects, its tail; not its
// images). A large one is read through its descriptor, so that its size never counts against the
// memory limit.
class Bytes
{
public:
    explicit Bytes(int fd) : m_fd(fd)
    {
        struct stat st
        {
        };
        m_size = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : ::lseek(fd, 0, SEEK_END);
        if (m_size < 0 || m_size > kInMemory)
            return;
        m_memory = takeMemory(size_t(m_size) + 1);
        m_loaded.assign(size_t((m_size + kBlock - 1) / kBlock), false);
    }

    ~Bytes()
    {
        // The memory serves the next file of the checking process, unless it is large.
        if (m_memory && m_size <= kKept)
            spare() = std::exchange(m_memory, Memory());
    }
    Bytes(const Bytes &) = delete;
    Bytes &operator=(const Bytes &) = delete;

    off_t size() const { return m_size; }
    int fd() const { return m_fd; }
    // Where the file will be in memory (what is read of it so far: see load), else null.
    char *memory() const { return m_memory.get(); }

    // Makes bytes [offset, offset + length) of a file in memory readable there.
    void load(off_t offset, size_t length) const
    {
        const off_t start = std::max<off_t>(offset, 0);
        if (start >= m_size)
            return;
        // Whatever length the library asks for, the memory it then reads is loaded.
        const off_t end = length >= size_t(m_size - start) ? m_size : start + off_t(length);
        for (off_t block = start / kBlock; block * kBlock < end; ++block) {
            if (m_loaded[size_t(block)])
                continue;
            off_t last = block; // the missing blocks in a row, read at once
            while ((last + 1) * kBlock < end && !m_loaded[size_t(last + 1)])
                ++last;
            readBlocks(block, last);
            block = last;
        }
    }

    // Up to length bytes from offset on, in `into` when they must be read; what there is of them.
    std::string_view at(off_t offset, size_t length, char *into) const
    {
        if (offset < 0 || offset >= m_size)
            return {};
        length = size_t(std::min<off_t>(off_t(length), m_size - offset));
        if (m_memory) {
            load(offset, length);
            return {m_memory.get() + offset, length};
        }
        return readAt(offset, into, length) ? std::string_view(into, length) : std::string_view();
    }

    static constexpr off_t kBlock = 4096;

private:
    bool readAt(off_t offset, char *into, size_t length) const
    {
        size_t done = 0;
        while (done < length) {
            const ssize_t got = ::pread(m_fd, into + done, length - done, offset + off_t(done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            done += size_t(got);
        }
        return true;
    }

    void readBlocks(off_t first, off_t last) const
    {
        const off_t from = first * kBlock;
        const off_t to = std::min<off_t>(m_size, (last + 1) * kBlock);
        // A file cut shorter meanwhile reads as zeros past its new end, never as what memory held.
        if (!readAt(from, m_memory.get() + from, size_t(to - from)))
            std::memset(m_memory.get() + from, 0, size_t(to - from));
        std::fill(m_loaded.begin() + first, m_loaded.begin() + last + 1, true);
    }

    struct Memory
    {
        std::unique_ptr<char[]> bytes;
        size_t size = 0;
        char *get() const { return bytes.get(); }
        explicit operator bool() const { return bool(bytes); }
    };
    static Memory &spare()
    {
        thread_local Memory kept;
        return kept;
    }
    static Memory takeMemory(size_t size)
    {
        Memory memory = std::exchange(spare(), Memory());
        if (!memory || memory.size < size)
            memory = {std::unique_ptr<char[]>(new char[size]), size};
        return memory;
    }

    static constexpr off_t kInMemory = 16 * 1024 * 1024;
    static constexpr off_t kKept = 1024 * 1024;
    int m_fd;
    off_t m_size = 0;
    Memory m_memory;
    mutable std::vector<bool> m_loaded; // per block
};

// The library's view of a file in memory: its own reader over the memory, each read preceded by loading
// what it is about to read.
class LoadingSource : public InputSource
{
public:
    explicit LoadingSource(const Bytes &file)
        : m_file(file), m_view(reinterpret_cast<unsigned char *>(file.memory()), size_t(file.size())),
          m_reader("the file", &m_view) // the reader reads the memory; it does not own it
    {
    }

    qpdf_offset_t findAndSkipNextEOL() override
    {
        // To the end of the line, and past the line breaks that follow it.
        const off_t size = m_file.size();
        off_t at = off_t(m_reader.tell());
        bool inBreak = false;
        for (; at < size; at += Bytes::kBlock - at % Bytes::kBlock) {
            m_file.load(at, size_t(Bytes::kBlock - at % Bytes::kBlock));
            const char *p = m_file.memory() + at;
            const char *end =
                m_file.memory() + std::min<off_t>(size, at - at % Bytes::kBlock + Bytes::kBlock);
            for (; p < end; ++p) {
                const bool isBreak = *p == '\r' || *p == '\n';
                if (inBreak && !isBreak)
                    break;
                inBreak = inBreak || isBreak;
            }
            if (p < end)
                break;
        }
        const qpdf_offset_t found = m_reader.findAndSkipNextEOL();
        last_offset = m_reader.getLastOffset();
        return found;
    }
    std::string const &getName() const override { return m_reader.getName(); }
    qpdf_offset_t tell() override { return m_reader.tell(); }
    void seek(qpdf_offset_t offset, int whence) override { m_reader.seek(offset, whence); }
    void rewind() override { m_reader.rewind(); }
    size_t read(char *buffer, size_t length) override
    {
        m_file.load(off_t(m_reader.tell()), length);
        const size_t got = m_reader.read(buffer, length);
        last_offset = m_reader.getLastOffset();
        return got;
    }
    void unreadCh(char ch) override { m_reader.unreadCh(ch); }

private:
    const Bytes &m_file;
    Buffer m_view;
    BufferInputSource m_reader;
};

// A header within the first kilobyte: some writers put a line or two before it, and offsets then count
// from the header.
bool hasHeader(const Bytes &file)
{
    char head[1024];
    return file.at(0, sizeof head, head).find("%PDF-") != std::string_view::npos;
}

// Where the last object of the text starts or ends: an update cut inside its first object has the
// object's head after the marker of the revision before it, and no end of it.
size_t lastObjectMark(std::string_view text)
{
    const size_t end = text.rfind("endobj");
    const size_t head = text.rfind(" obj");
    if (end == std::string_view::npos)
        return head;
    return head == std::string_view::npos ? end : std::max(end, head);
}

// Whether an end-of-file marker stands after the file's last object, looking back from its end. A file
// without any object leaves the verdict to the library.
bool endsAfterItsLastObject(const Bytes &file)
{
    const off_t size = file.size();
    // The markers are near the end: a file in memory is read no further back than they are.
    const off_t chunk = file.memory() ? Bytes::kBlock : 64 * 1024;
    constexpr off_t Overlap = 8; // a marker that straddles two chunks
    std::vector<char> buffer(file.memory() ? 0 : size_t(chunk + Overlap));
    for (off_t end = size; end > 0;) {
        const off_t begin = end > chunk ? end - chunk : 0;
        const off_t stop = end + Overlap < size ? end + Overlap : size;
        const std::string_view text = file.at(begin, size_t(stop - begin), buffer.data());
        if (text.size() != size_t(stop - begin))
            return false;
        const size_t eof = text.rfind("%%EOF");
        const size_t obj = lastObjectMark(text);
        if (eof != std::string_view::npos || obj != std::string_view::npos)
            return eof != std::string_view::npos && (obj == std::string_view::npos || eof > obj);
        end = begin;
    }
    return true;
}

// A reference to an object the file does not hold resolves to null.
bool isMissing(QPDFObjectHandle object)
{
    return object.isIndirect() && object.isNull();
}

// Decodes every content stream of the page; false with the damage when one cannot be had.
bool readContents(QPDF &pdf, QPDFObjectHandle page, Pass &pass)
{
    QPDFObjectHandle contents = page.getKey("/Contents");
    std::vector<QPDFObjectHandle> streams;
    if (contents.isArray()) {
        for (int i = 0; i < contents.getArrayNItems(); ++i)
            streams.push_back(contents.getArrayItem(i));
    } else if (!contents.isNull() || isMissing(contents)) {
        streams.push_back(contents);
    }
    for (QPDFObjectHandle &stream : streams) {
        if (isMissing(stream) || !stream.isStream()) {
            pass.damage = Damage::MissingData;
            pass.detail = "page content " + stream.getObjGen().unparse(' ') + " is not in the file";
            return false;
        }
        Sink sink;
        const size_t before = pdf.numWarnings();
        // A filter the library does not decode is no damage; a stream it fails to decode is.
        if (!stream.pipeStreamData(&sink, 0, qpdf_dl_generalized) && pdf.numWarnings() > before) {
            pass.damage = Damage::BadStream;
            pass.detail = pdf.getWarnings().back().what();
            return false;
        }
    }
    return true;
}

bool walkPages(QPDF &pdf, Pass &pass)
{
    QPDFObjectHandle tree = pdf.getRoot().getKey("/Pages");
    if (!tree.isDictionary()) {
        pass.damage = isMissing(tree) ? Damage::MissingData : Damage::NoPages;
        pass.detail = "the catalogue names no page tree";
        return false;
    }
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    pass.pages = int(pages.size());
    if (pages.empty()) {
        pass.damage = Damage::NoPages;
        pass.detail = "the page tree holds no page";
        return false;
    }
    for (QPDFPageObjectHelper &page : pages) {
        QPDFObjectHandle object = page.getObjectHandle();
        if (!object.isDictionary()) {
            pass.damage = Damage::MissingData;
            pass.detail = "page " + object.getObjGen().unparse(' ') + " is not in the file";
            return false;
        }
        if (!readContents(pdf, object, pass))
            return false;
    }
    return true;
}

// The first warning that names what was wrong, past the library's notes that it is repairing.
std::string firstCause(const std::vector<QPDFExc> &warnings)
{
    for (const QPDFExc &warning : warnings) {
        const std::string text = warning.getMessageDetail();
        if (text != "file is damaged" && text.rfind("Attempting to reconstruct", 0) != 0)
            return warning.what();
    }
    return warnings.front().what();
}

std::shared_ptr<InputSource> sourceOf(const Bytes &file)
{
    if (file.memory())
        return std::make_shared<LoadingSource>(file);
    FILE *stream = ::fdopen(::dup(file.fd()), "rb");
    if (!stream)
        throw std::runtime_error(std::strerror(errno));
    auto source = std::make_shared<FileInputSource>();
    source->setFile("the file", stream, true);
    return source;
}

Pass runPass(const Bytes &file, bool repair)
{
    Pass pass;
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.setAttemptRecovery(repair);
    try {
        pdf.processInputSource(sourceOf(file));
        pass.opened = true;
        pass.encrypted = pdf.isEncrypted();
        const bool walked = walkPages(pdf, pass);
        pass.clean = walked && !pdf.anyWarnings();
        if (walked && pdf.anyWarnings())
            pass.detail = firstCause(pdf.getWarnings());
    } catch (const QPDFExc &e) {
        pass.passwordNeeded = e.getErrorCode() == qpdf_e_password;
        const bool pageTree = e.getErrorCode() == qpdf_e_pages;
        pass.damage = pageTree ? Damage::BadPageTree : pass.opened ? Damage::MissingData : Damage::CannotOpen;
        pass.detail = e.what();
    }
    return pass;
}

PdfInspection fromPass(const Pass &pass, State good)
{
    PdfInspection inspection;
    inspection.pages = pass.pages;
    inspection.detail = pass.detail;
    if (pass.passwordNeeded) {
        inspection.state = State::Encrypted;
        inspection.pages = -1;
    } else if (pass.damage != Damage::None) {
        inspection.state = State::Damaged;
        inspection.damage = pass.damage;
    } else {
        inspection.state = pass.encrypted ? State::Encrypted : good;
    }
    return inspection;
}

PdfInspection inspect(int fd)
{
    const Bytes file(fd);
    if (!hasHeader(file)) {
        PdfInspection inspection;
        inspection.state = State::Damaged;
        inspection.damage = Damage::NotPdf;
        inspection.detail = "no %PDF- header";
        return inspection;
    }
    const Pass strict = runPass(file, false);
    PdfInspection inspection = strict.clean || strict.passwordNeeded
                                   ? fromPass(strict, State::Whole)
                                   : fromPass(runPass(file, true), State::Repaired);
    // A reader could rebuild a file cut short after its last page, but what arrived is not what was sent;
    // and a file cut before its trailer is first of all cut short.
    const bool undecided = inspection.state != State::Damaged || inspection.damage == Damage::CannotOpen;
    if (undecided && !endsAfterItsLastObject(file)) {
        inspection.state = State::Damaged;
        inspection.damage = Damage::CutShort;
        inspection.detail = "no end-of-file marker after the last object";
    }
    return inspection;
}

} // namespace

PdfInspection InspectPdf(int fd)
{
    try {
        return inspect(fd);
    } catch (const std::bad_alloc &) {
        PdfInspection inspection;
        inspection.unchecked = Unchecked::OutOfMemory;
        inspection.detail = "the check needed more memory than it may use";
        return inspection;
    } catch (const std::exception &e) {
        PdfInspection inspection;
        inspection.state = State::Damaged;
        inspection.damage = Damage::CannotOpen;
        inspection.detail = e.what();
        return inspection;
    }
}
