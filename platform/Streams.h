#pragma once
// Byte streams: the abstract TStream with read-exactly and write-all helpers, a growable
// TMemoryStream whose memory can be read in place, and TFileStream over a POSIX descriptor.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace nolvi2 {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to count bytes; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    virtual int64_t Size();

    // Exactly count bytes, or EReadError.
    void ReadBuffer(void* buffer, int64_t count);
    // Exactly count bytes, or EWriteError.
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source's position (count 0: from the start to the end).
    int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return FSize; }

    void SetSize(int64_t size);
    void Clear();
    uint8_t* Memory() { return FMemory.get(); }
    const uint8_t* Memory() const { return FMemory.get(); }

    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void SaveToStream(TStream& dest) const;

private:
    void Reserve(int64_t capacity);

    struct FreeDeleter {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, FreeDeleter> FMemory;
    int64_t FSize = 0;
    int64_t FCapacity = 0;
    int64_t FPosition = 0;
};

enum class TFileMode { fmOpenRead, fmCreate };

class TFileStream : public TStream {
public:
    // fmOpenRead opens an existing file for reading (EFOpenError on failure);
    // fmCreate creates or truncates it for writing (EFCreateError on failure).
    TFileStream(const std::string& fileName, TFileMode mode);
    // Adopts an open descriptor, which the stream closes.
    TFileStream(int fd, std::string fileName);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;

    int Handle() const { return FHandle; }
    const std::string& FileName() const { return FFileName; }
    // Gives the descriptor up without closing it.
    int Release();

protected:
    // A read or write that failed with the system's error err: EReadError or EWriteError
    // naming the file.
    [[noreturn]] virtual void ReadFailed(int err);
    [[noreturn]] virtual void WriteFailed(int err);

private:
    int FHandle = -1;
    std::string FFileName;
};

}  // namespace nolvi2
