#include "cloud_service/password_hasher.h"

#include <sodium.h>

#include <algorithm>
#include <thread>

namespace {

// Argon2id with 2 passes over 19 MiB: the smallest setting the usual password-storage
// guidance accepts for Argon2id. A log in, a registration, a password change, every wrong
// password and the first request of each account pay one hash, two at most at once on a
// 2-core host. libsodium's "interactive" limits (64 MiB) take about 0.1 s per hash on such a
// host when it is idle and over half a second while it is busy; 19 MiB takes about 30 ms
// idle, so a log in stays quick and a burst of wrong passwords cannot starve the other
// requests, while every guess of an attacker still has to fill 19 MiB.
constexpr unsigned long long kOpsLimit = 2;
constexpr std::size_t kMemLimit = std::size_t(19) << 20;

// Remembered passwords of at most this many accounts; the memory is forgotten whole when
// more accounts than that are active, which only costs a hash each.
constexpr std::size_t kRememberedAccounts = 10000;

std::ptrdiff_t concurrentHashes() {
    return std::clamp<std::ptrdiff_t>(std::thread::hardware_concurrency(), 1, 64);
}

} // namespace

PasswordHasher::PasswordHasher() : hashing_(concurrentHashes()) {
    if (sodium_init() < 0)
        return;
    digestKey_.resize(crypto_generichash_KEYBYTES);
    randombytes_buf(digestKey_.data(), digestKey_.size());
    std::string nobodyPassword(32, '\0');
    randombytes_buf(nobodyPassword.data(), nobodyPassword.size());
    nobodyHash_ = hash(nobodyPassword).value_or(std::string());
}

std::optional<std::string> PasswordHasher::hash(const std::string& password) {
    char out[crypto_pwhash_STRBYTES];
    hashing_.acquire();
    const int result =
        crypto_pwhash_str(out, password.data(), password.size(), kOpsLimit, kMemLimit);
    hashing_.release();
    if (result != 0)
        return std::nullopt;
    return std::string(out);
}

bool PasswordHasher::slowVerify(const std::string& storedHash, const std::string& password) {
    hashing_.acquire();
    const bool matches =
        crypto_pwhash_str_verify(storedHash.c_str(), password.data(), password.size()) == 0;
    hashing_.release();
    return matches;
}

std::string PasswordHasher::digest(const std::string& password) const {
    std::string out(crypto_generichash_BYTES, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(out.data()), out.size(),
                       reinterpret_cast<const unsigned char*>(password.data()), password.size(),
                       reinterpret_cast<const unsigned char*>(digestKey_.data()),
                       digestKey_.size());
    return out;
}

bool PasswordHasher::matchesDigest(std::int64_t accountId, const std::string& storedHash,
                                   const std::string& given) {
    std::lock_guard guard(lock_);
    const auto found = remembered_.find(accountId);
    return found != remembered_.end() && found->second.storedHash == storedHash &&
           sodium_memcmp(found->second.digest.data(), given.data(), given.size()) == 0;
}

bool PasswordHasher::matchesRemembered(std::int64_t accountId, const std::string& storedHash,
                                       const std::string& password) {
    return matchesDigest(accountId, storedHash, digest(password));
}

bool PasswordHasher::verify(std::int64_t accountId, const std::string& storedHash,
                            const std::string& password) {
    const std::string given = digest(password);
    if (matchesDigest(accountId, storedHash, given))
        return true;
    if (!slowVerify(storedHash, password))
        return false;
    std::lock_guard guard(lock_);
    if (remembered_.size() >= kRememberedAccounts)
        remembered_.clear();
    remembered_[accountId] = {storedHash, given};
    return true;
}

void PasswordHasher::verifyNobody(const std::string& password) {
    slowVerify(nobodyHash_, password);
}
