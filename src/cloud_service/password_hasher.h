#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <unordered_map>

// Account passwords as salted slow hashes (libsodium's crypto_pwhash, Argon2id) and their
// checks.
//
// Every account request carries the password, so an upload of n servers checks it n times.
// After a successful check the hasher remembers a keyed fast digest of that password for the
// account and the stored hash it matched; later requests with the same password and an
// unchanged stored hash compare digests in constant time instead of hashing again. Wrong
// passwords are never remembered and always pay the full hash, and an unknown account is
// checked against a hash of its own, so neither answers faster than the other.
class PasswordHasher {
public:
    PasswordHasher();

    // The self-describing hash string (algorithm, parameters, salt); nothing on failure.
    std::optional<std::string> hash(const std::string& password);

    // True when `password` matches `storedHash` of account `accountId`. Constant time in the
    // password for a given hash.
    bool verify(std::int64_t accountId, const std::string& storedHash, const std::string& password);
    // True when `password` is the one remembered for account `accountId` with `storedHash`:
    // the quick half of verify(), which never hashes. False says nothing about the password.
    bool matchesRemembered(std::int64_t accountId, const std::string& storedHash,
                           const std::string& password);

    // Spends what verify() spends on a wrong password, for requests naming no account.
    void verifyNobody(const std::string& password);

private:
    struct Remembered {
        std::string storedHash;
        std::string digest;
    };

    bool slowVerify(const std::string& storedHash, const std::string& password);
    bool matchesDigest(std::int64_t accountId, const std::string& storedHash,
                       const std::string& given);
    std::string digest(const std::string& password) const;

    std::string digestKey_;
    std::string nobodyHash_;
    // Bounds the hashes that run at once, and so their memory (each one fills its own
    // working area) and the cores they take from the other requests.
    std::counting_semaphore<64> hashing_;
    std::mutex lock_;
    std::unordered_map<std::int64_t, Remembered> remembered_;
};
