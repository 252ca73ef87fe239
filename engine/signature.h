// Signed releases: the signature line that ends a signed manifest, the
// release serial it carries, and the record of the last serial installed.
//
// A signed manifest.ini ends with exactly one line
//   ;signature=<128 lowercase hexadecimal digits>CR LF
// an ECDSA P-256 signature (r then s) over the SHA-256 of every byte before
// that line. To the INI reader the line is a comment. Its [release] section
// carries serial=<1 to 2^40>; an updater built with a key refuses a serial
// lower than the one it recorded after its last successful run.
//
// An updater built without a key (the default) calls none of this.
#pragma once

#include <stdint.h>

// The key the build passed in: empty, or 128 lowercase hexadecimal digits.
extern const char RELEASE_PUBLIC_KEY[];

// The messages of the signed-release steps.
extern const wchar_t BAD_SIGNATURE_MESSAGE[];  // no valid signature by the built-in key
extern const wchar_t OLDER_RELEASE_MESSAGE[];  // a serial below the recorded one

// Bytes of a signature line: ";signature=", 128 digits, CR LF.
constexpr uint32_t SIGNATURE_LINE_BYTES = 141;

// 1 when the updater was built with a publisher key.
int SignedReleases();

// The 64 bytes of a public key written as 128 lowercase hexadecimal digits
// (text of exactly that form, terminated). 0 for any other text.
int DecodePublicKey(const char* hex, unsigned char key[64]);

// Why a manifest's signature does not hold.
enum class SignatureFault {
  None,
  Unreadable,  // the file cannot be read
  NoLine,      // it does not end with a well-formed signature line
  Mismatch,    // the line is well formed but the signature is not key's over these bytes
};

// Checks that the file at path ends with a signature line whose signature
// the key made over every byte before the line. Reads the file once, in
// fixed storage. With a null key only the line's form is checked.
SignatureFault CheckSignedFile(const wchar_t* path, const unsigned char key[64]);

// The run's steps with a built-in key, each 0 after reporting its message:
// the manifest copy's signature, checked before anything in it is read;
// then, after the header, its serial against the recorded one.
int CheckManifestSignature();
int CheckReleaseSerial();

// After a run that ended with the client current and verified: records the
// manifest's serial in .quenfar8-update\release.serial, written to the run
// folder, flushed and renamed over the old record. Silent: the client is
// current whether or not the record could be written.
void RecordReleaseSerial();

// Reads the whole file at path into bytes; its size, or 0 when it is
// missing, unreadable, empty or larger than capacity.
uint32_t ReadSmallFile(const wchar_t* path, char* bytes, uint32_t capacity);

// The work folder's record files (.quenfar8-update\<name>), shared by the
// serial and the key records.
// Reads the whole record into bytes; its size, or 0 when it is missing,
// unreadable, empty or larger than capacity.
uint32_t ReadRecordFile(const wchar_t* name, char* bytes, uint32_t capacity);
// The record's number by the manifest's number rule; 0 when there is none
// or it cannot be read as a number.
uint64_t RecordedNumber(const wchar_t* name);
// Writes the record as a new file in the run folder, flushes it and
// renames it over the old record, so a record is always whole: the old one
// or the new one. Silent: a record that cannot be written is left as it was.
void WriteRecordFile(const wchar_t* name, const char* bytes, uint32_t count);
// WriteRecordFile of a number in decimal digits.
void WriteRecordedNumber(const wchar_t* name, uint64_t value);
