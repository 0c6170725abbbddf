#pragma once
// Value representations: the VR state of an element, VR inference from the
// value bytes, the VR classes and the number parsers.
#include <cstdint>
#include <string>
#include <string_view>

#include "dicom/InternedText.h"

class CDicomVR {
public:
    CDicomVR() = default;
    CDicomVR(const CDicomVR&) = default;
    CDicomVR& operator=(const CDicomVR&) = default;
    ~CDicomVR();

    // Declared VR when not empty, else the guessed VR (possibly empty). Never guesses.
    const std::u16string& GetVR() const { return m_declaredVR.empty() ? m_guessedVR : m_declaredVR; }
    // Declared VR when not empty; otherwise guesses once from the value and returns the guess.
    const std::u16string& GetVRGuessing(const uint8_t* value, uint32_t length, bool longForm);
    void GuessVR(const uint8_t* value, uint32_t length, bool longForm);
    // The same guess for a value of more than 64 bytes that is not at hand:
    // all it needs is whether some byte of it is not text.
    const std::u16string& GetVRGuessingLarge(uint32_t length, bool longForm, bool binary);
    // Stores the text upper-cased as the declared VR; the text ends at a NUL.
    void SetVR(std::u16string_view vr);
    // A VR already upper case and interned (the dictionary's).
    void SetInternedVR(const quillon::InternedText& vr) { m_declaredVR = vr; }
    void SetGroupLengthVR() { m_declaredVR = u"UL"; }
    const std::u16string& GetDeclaredVR() const { return m_declaredVR; }
    const std::u16string& GetGuessedVR() const { return m_guessedVR; }
    void Clear() {
        m_declaredVR.clear();
        m_guessedVR.clear();
    }

    // Interned: a tree node holds two pointers, whatever its VR.
    quillon::InternedText m_declaredVR;
    quillon::InternedText m_guessedVR;

private:
    static std::u16string GuessFromSize(uint32_t count, bool longForm, bool binary);
};

// False for exactly AT FL FD SL SS UL US OB OW SQ; true for every other text, empty included.
bool IsTextVR(std::u16string_view vr);
// True for the VRs whose explicit-VR header has two reserved bytes and a
// 4-byte length: OB OD OF OL OV OW SQ SV UC UN UR UT UV.
bool IsLongLengthVR(std::u16string_view vr);

// Both parse a NUL-terminated text and may modify it in place.
int32_t ParseISText(char* text);
double ParseDSText(char* text);
// Truncates toward zero, saturating at the 32-bit range (NaN gives 0).
int32_t TruncateToInt32(double value);

// Converts a VR text to a plain ASCII std::string (for printing).
std::string VRToAscii(std::u16string_view vr);
