#include "bench/classroom/plainreceiver.h"

#include "bench/classroom/support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

struct Transfer
{
    int socket = -1;
    int file = -1;
    std::string header;
    size_t size = 0;
    size_t got = 0;
    bool sized = false;
    EVP_MD_CTX *digest = nullptr; // hashing receivers only
};

void writeAll(int file, const char *data, size_t size)
{
    for (size_t at = 0; at < size;) {
        const ssize_t written = ::write(file, data + at, size - at);
        if (written <= 0)
            ::_exit(3);
        at += size_t(written);
    }
}

void drop(Transfer *transfer)
{
    ::close(transfer->socket);
    if (transfer->file >= 0)
        ::close(transfer->file);
    EVP_MD_CTX_free(transfer->digest);
    delete transfer;
}

void startDigest(Transfer &transfer)
{
    transfer.digest = EVP_MD_CTX_new();
    if (!transfer.digest || EVP_DigestInit_ex(transfer.digest, EVP_sha256(), nullptr) != 1)
        ::_exit(4);
}

void addToDigest(Transfer &transfer, const char *data, size_t size)
{
    if (transfer.digest && EVP_DigestUpdate(transfer.digest, data, size) != 1)
        ::_exit(4);
}

void finishDigest(Transfer &transfer)
{
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (transfer.digest && EVP_DigestFinal_ex(transfer.digest, sum, &length) != 1)
        ::_exit(4);
}

} // namespace

bool PlainReceiver::start(const std::string &folder, bool hashing)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(m_listener, 4096) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return false;
    port = ntohs(address.sin_port);
    m_pid = forkHelper();
    if (m_pid == 0)
        serve(folder, hashing);
    ::close(m_listener);
    return m_pid > 0;
}

void PlainReceiver::stop()
{
    endHelper(m_pid, SIGTERM);
}

void PlainReceiver::serve(const std::string &folder, bool hashing)
{
    const int epoll = ::epoll_create1(0);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, m_listener, &event);
    std::vector<char> buffer(128 * 1024);
    int number = 0;
    epoll_event events[64];
    for (;;) {
        const int n = ::epoll_wait(epoll, events, 64, -1);
        for (int i = 0; i < n; ++i) {
            auto *transfer = static_cast<Transfer *>(events[i].data.ptr);
            if (!transfer) {
                auto *fresh = new Transfer;
                fresh->socket = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK);
                event.events = EPOLLIN;
                event.data.ptr = fresh;
                ::epoll_ctl(epoll, EPOLL_CTL_ADD, fresh->socket, &event);
                continue;
            }
            const ssize_t got = ::read(transfer->socket, buffer.data(), buffer.size());
            if (got <= 0) {
                if (got < 0 && errno == EAGAIN)
                    continue;
                drop(transfer);
                continue;
            }
            size_t used = 0;
            if (!transfer->sized) {
                while (used < size_t(got) && buffer[used] != '\n')
                    transfer->header += buffer[used++];
                if (used == size_t(got))
                    continue;
                ++used;
                transfer->sized = true;
                transfer->size = std::stoull(transfer->header);
                const std::string path = folder + "/plain-" + std::to_string(++number) + ".bin";
                transfer->file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (hashing)
                    startDigest(*transfer);
            }
            addToDigest(*transfer, buffer.data() + used, size_t(got) - used);
            writeAll(transfer->file, buffer.data() + used, size_t(got) - used);
            transfer->got += size_t(got) - used;
            if (transfer->got == transfer->size) {
                finishDigest(*transfer);
                ::close(transfer->file);
                transfer->file = -1;
                if (::write(transfer->socket, "ok\r\n", 4) != 4)
                    ::_exit(3);
            }
        }
    }
}
