// Correctly rounded conversion of a decimal number to a double, in integer
// arithmetic only. No Windows header: tested on any compiler.
#ifndef HALVOTREN_UPDATE_DECIMAL_TO_DOUBLE_H
#define HALVOTREN_UPDATE_DECIMAL_TO_DOUBLE_H

// The most digits the conversion takes; a reader that meets more keeps the
// first DECIMAL_DIGITS_KEPT and stands for the rest with one more non-zero
// digit when any of them is not zero (see ReadVersionNumber).
#define DECIMAL_DIGITS_KEPT 800

// The double nearest to digits * 10^exponent, ties to even: `count` (1 to
// DECIMAL_DIGITS_KEPT + 1) decimal digits, the first not '0'. Too large
// gives HUGE_VAL, too small 0, and below the normal range the result is
// subnormal. No floating-point arithmetic is done, so the x87's precision
// setting cannot change the result.
double DecimalToDouble(const char *digits, int count, long exponent);

#endif
