#include "AdmittedConnection.h"

#include "../../ProcessIdentity.h"

#include <cerrno>
#include <sys/socket.h>

void AdmittedConnection::resume() {
    if (resumed_ || closed_)
        return;
    resumed_ = true;
    loop_.watch(fd_.get(), EventLoop::readable, [weak = weak_from_this()](bool hungUp) {
        auto self = weak.lock();
        if (!self)
            return;
        // Gone both ways: nobody is left to take a reply.
        if (hungUp)
            self->close();
        else
            self->pump(true);
    });
    // A call sent with the connection is answered before the greeting leaves, so that
    // both leave in one message and the client wakes once.
    readCalls();
    pump(false);
}

void AdmittedConnection::close() {
    if (closed_)
        return;
    closed_ = true;
    loop_.unwatch(fd_.get());
    fd_.reset();
    onClosed_();
}

void AdmittedConnection::pump(bool readMore) {
    auto self = shared_from_this();
    flush();
    serveBufferedCalls();
    if (readMore)
        readCalls();
    if (!closed_ && inputEnded_ && answers_.empty() && unsent_.empty())
        close();
    if (!closed_)
        loop_.setInterests(fd_.get(), (isSaturated() || inputEnded_ ? 0u : EventLoop::readable) |
                                          (unsent_.empty() ? 0u : EventLoop::writable));
}

void AdmittedConnection::flush() {
    if (!greeted_) {
        if (closed_ || (unsent_.empty() && !answers_.empty()))
            return;
        // The kernel records our credentials with the greeting, as the client asks before
        // it connects: behind a passed socket, its view of its peer names the service
        // manager, not us. Sent like any reply, so a burst too large for one send is not
        // taken for a failure.
        greeted_ = true;
        unsent_.insert(0, greeting_);
    }
    while (!closed_ && !unsent_.empty()) {
        ssize_t sent = send(fd_.get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0)
            unsent_.erase(0, std::size_t(sent));
        else if (sent < 0 && errno == EAGAIN)
            return;
        else if (!(sent < 0 && errno == EINTR))
            close();
    }
    // What a burst of replies grew goes back.
    unsent_.shrink_to_fit();
}

void AdmittedConnection::serveBufferedCalls() {
    while (!closed_ && !isSaturated()) {
        auto frame = reader_.nextFrame();
        if (!frame) {
            if (reader_.isBroken())
                close();
            return;
        }
        if (*frame != frames::fetchSnapshotMethod || !exported_) {
            close();
            return;
        }
        std::uint64_t call = oldestUnanswered_ + answers_.size();
        answers_.emplace_back();
        exported_->fetchSnapshotWithReply([weak = weak_from_this(), call](std::string data) {
            if (auto self = weak.lock())
                self->deliver(call, std::move(data));
        });
    }
}

void AdmittedConnection::readCalls() {
    char buffer[readChunk];
    while (!closed_ && !inputEnded_ && !isSaturated()) {
        // Bytes checked with the peer are read apart from any that came after them, and
        // need no pidfd; every later writer is checked with its own.
        const bool checkedBytes = checked_.bytes > 0;
        if (!checkedBytes && !pidfdsEnabled_) {
            pidfdsEnabled_ = bool(enableSenderPidfds(fd_.get()));
            if (!pidfdsEnabled_) {
                close();
                return;
            }
        }
        std::size_t wanted = checkedBytes ? std::min(checked_.bytes, sizeof buffer) : sizeof buffer;
        auto received = receiveWithSender(fd_.get(), buffer, wanted);
        if (!received) {
            if (received.failure().error == EAGAIN)
                return;
            if (received.failure().error != EINTR)
                close();
            continue;
        }
        const std::size_t got = received->size;
        if (got == 0) {
            inputEnded_ = true;
            continue;
        }
        if (checkedBytes)
            checked_.bytes -= got; // no more than wanted
        // Nothing can come before the bytes looked at: they are the checked ones.
        const auto& sender = received->sender;
        if (checkedBytes ? !sender || sender->pid != checked_.writer : !writerSatisfies(sender)) {
            close();
            continue;
        }
        reader_.feed(std::string_view(buffer, got));
        serveBufferedCalls();
        // A short read took all there was; the loop tells when more comes.
        if (got < sizeof buffer)
            return;
    }
}

// The process that wrote the bytes must satisfy the requirement, whoever connected: the
// connection may be shared with, or handed to, another process.
bool AdmittedConnection::writerSatisfies(const std::optional<MessageSender>& sender) const {
    return sender && checkPeer(sender->pid, sender->uid, requirement_, sender->pidfd.get()) ==
                         PeerCheck::satisfied;
}

void AdmittedConnection::deliver(std::uint64_t call, std::string data) {
    if (closed_ || call < oldestUnanswered_ || call - oldestUnanswered_ >= answers_.size())
        return;
    auto& slot = answers_[call - oldestUnanswered_];
    if (slot)
        return;
    slot = std::move(data);
    while (!answers_.empty() && answers_.front()) {
        auto frame = frames::encodeFrame(*answers_.front());
        if (!frame) {
            close();
            return;
        }
        unsent_ += *frame;
        answers_.pop_front();
        ++oldestUnanswered_;
    }
    pump(false);
}