#pragma once

// Results of a modal form; a button hands its result to the form, which
// closes with it.
enum : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
};

// What a button sees of the form it lies on: the form takes the button's
// modal result (TForm is one).
class TModalForm {
public:
    virtual ~TModalForm() = default;
    virtual void SetModalResult(int value) = 0;
};
