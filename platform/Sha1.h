#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <memory>

// SHA-1 from the system's own library: libcrypto on Linux, CNG on Windows (Sha1Digest_*.cpp).
// One object hashes one stream; reset() starts the next.
class Sha1Digest
{
public:
    Sha1Digest();
    ~Sha1Digest();
    Sha1Digest(const Sha1Digest &) = delete;
    Sha1Digest &operator=(const Sha1Digest &) = delete;

    // False when the library could not give a digest object; nothing can be hashed then.
    bool isValid() const;
    void reset();
    void addData(const char *data, qint64 length);
    // The 20 raw bytes of the digest of everything added since the last reset; ends the stream.
    QByteArray result();

    // Sets the library up on the calling thread. A worker's owner calls it before starting the
    // worker: state the library set up on first use inside the worker would go with its thread.
    static void prepare();
    // Frees what the library keeps per thread; a worker thread calls it before it ends.
    static void releaseThreadState();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
