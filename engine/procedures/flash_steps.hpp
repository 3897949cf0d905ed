#pragma once
// The flash programming steps: the plan runner and the erase, write and read exchanges.
// Each ends Ok, Failed with what failed, or Closing. None reports its failure or touches the
// controls on failing: the procedure that runs it does, once, where it ends.

#include <cstdint>

#include "engine/procedures/procedure_env.hpp"
#include "engine/result.hpp"

namespace tq5::engine {

// Most consecutive failures of one block (time-outs and error statuses together).
inline constexpr int kMaxBlockAttempts = 32;
// Most times one EraseRequest is sent.
inline constexpr int kMaxEraseAttempts = 7;

// Reads the device's boot version, then runs the ten rows of the flash plan, skipping the
// boot rows when the device's boot version equals the boot image's. `bootRowsRan`, when
// given, tells whether they ran.
Result RunFlashPlan(const ProcedureEnv& env, bool* bootRowsRan = nullptr);

// Reads back every region the plan wrote (the boot image's only when the boot rows ran) and
// compares it with its image, through `env.reader` (one of its own when there is none). The
// first difference, or a read that keeps failing at a size the device served, fails with
// "Transfer error occurred.". Ok also when the device serves no read: the reader says so.
Result VerifyFlash(const ProcedureEnv& env, bool bootRowsRan);

Result EraseRegion(const ProcedureEnv& env, std::uint32_t address, std::uint32_t size);

// Writes image `resourceId` at `address` in blocks of 4096 bytes; `size` 0 = the whole image.
// With a reader in `env`, a block whose answer never came and whose resend the device
// refused is read back, and counts as written when the flash holds it.
Result WriteImage(const ProcedureEnv& env, std::uint32_t address, std::uint32_t size,
                  std::uint32_t resourceId);

// Reads `length` bytes of device memory at `address`; on success copies exactly four bytes
// to `out`. A failure has no message of its own (phase Versions).
Result ReadDeviceMemory(const ProcedureEnv& env, std::uint32_t address, std::uint32_t length,
                        std::uint8_t* out);

}  // namespace tq5::engine
