#pragma once
// Message templates of the display layer. The texts are part of what the operator
// sees in the error report, so they never change.

namespace ts {

inline constexpr char kSNotLoaded[] = "%s not loaded";
inline constexpr char kSCannotInitialize[] = "%s cannot be initialized";
inline constexpr char kSNecessaryDirectX6[] = "Necessary since DirectX 6";
inline constexpr char kSNecessaryDirectX7[] = "Necessary since DirectX 7";
inline constexpr char kSCannotMade[] = "%s cannot be made";
inline constexpr char kSNotMade[] = "%s not made";
inline constexpr char kSFormNotFound[] = "Form not found";
inline constexpr char kSDisplayModeCannotChange[] = "Display mode cannot be changed (%dx%d %dbit)";
inline constexpr char kSInvalidBitCount[] = "It should be either of 8 or 16 or 24 or 32";
inline constexpr char kSCanvasNoDrawing[] = "Canvas does not allow drawing";
inline constexpr char kSCannotCreateFile[] = "Cannot create file %s";
inline constexpr char kSCannotOpenClipboard[] = "Cannot open clipboard";
inline constexpr char kSCannotCopyPicture[] = "Cannot copy the picture to the clipboard";

}  // namespace ts
