#pragma once
// How a step or a procedure ended: done, failed (with the failure, which the procedure's end
// reports once), or cut short because the window is going away (nothing to report, no
// control to touch). A result that is dropped is a failure that nobody hears of, so the
// compiler refuses to let one go unread.

#include <utility>

#include "engine/outcome.hpp"

namespace tq5::engine {

class [[nodiscard]] Result {
public:
    static Result Ok() { return Result(End::Ok, {}); }
    static Result Failed(Failure failure) { return Result(End::Failed, std::move(failure)); }
    static Result Closing() { return Result(End::Closing, {}); }

    bool IsOk() const { return end_ == End::Ok; }
    bool IsFailed() const { return end_ == End::Failed; }
    bool IsClosing() const { return end_ == End::Closing; }
    // IsFailed: what failed.
    const Failure& GetFailure() const { return failure_; }

private:
    enum class End { Ok, Failed, Closing };
    Result(End end, Failure failure) : end_(end), failure_(std::move(failure)) {}

    End end_;
    Failure failure_;
};

}  // namespace tq5::engine
