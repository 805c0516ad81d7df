using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Quendral.Hosts;

/// <summary>Texts across the boundary: on Windows the DLL calls the ...A functions,
/// so paths and texts go in the ANSI code page; elsewhere they go in UTF-8.</summary>
internal static unsafe class NativeText
{
    private static readonly bool OnWindows = RuntimeInformation.IsOSPlatform(OSPlatform.Windows);
    private static readonly UTF8Encoding StrictUtf8 = new(encoderShouldEmitUTF8Identifier: false, throwOnInvalidBytes: true);
    private static readonly UTF8Encoding LenientUtf8 = new(encoderShouldEmitUTF8Identifier: false, throwOnInvalidBytes: false);
    private static readonly Encoding Outgoing = OnWindows ? ForCodePage((int)NativeMethods.GetACP()) : StrictUtf8;

    /// <summary>The text as a NUL-terminated byte string, or null for null; refuses a
    /// text holding NUL or a character the encoding cannot carry, before any call.</summary>
    internal static byte[]? Encode(string? text, string parameterName) => Encode(text, parameterName, Outgoing);

    internal static byte[]? Encode(string? text, string parameterName, Encoding encoding)
    {
        if (text is null)
            return null;
        if (text.IndexOf('\0') >= 0)
            throw new ArgumentException("the text holds a NUL character", parameterName);
        byte[] encoded;
        try
        {
            encoded = encoding.GetBytes(text);
        }
        catch (EncoderFallbackException error)
        {
            throw new ArgumentException($"the text cannot be represented in {encoding.WebName}", parameterName, error);
        }
        var terminated = new byte[encoded.Length + 1];
        Buffer.BlockCopy(encoded, 0, terminated, 0, encoded.Length);
        return terminated;
    }

    /// <summary>Copies a text the library owns. Bytes that are not UTF-8 never throw:
    /// on Windows they are read in the ANSI code page, elsewhere each becomes U+FFFD.</summary>
    internal static string Decode(byte* text)
    {
        if (text == null)
            return string.Empty;
        var length = 0;
        while (text[length] != 0)
            length++;
        var bytes = new byte[length];
        Marshal.Copy((IntPtr)text, bytes, 0, length);
        try
        {
            return StrictUtf8.GetString(bytes);
        }
        catch (DecoderFallbackException)
        {
            return (OnWindows ? Outgoing : LenientUtf8).GetString(bytes);
        }
    }

    /// <summary>A code page's encoding that refuses what it cannot carry: never a
    /// "best fit" that would turn one name into another.</summary>
    internal static Encoding ForCodePage(int codePage)
    {
        if (codePage == Encoding.UTF8.CodePage)
            return StrictUtf8;
#if NET5_0_OR_GREATER
        // The legacy code pages live in the code-page provider on .NET; it is asked
        // directly so that the process-wide encoding registry stays as it was.
        var legacy = CodePagesEncodingProvider.Instance.GetEncoding(codePage, EncoderFallback.ExceptionFallback, DecoderFallback.ReplacementFallback);
        if (legacy is not null)
            return legacy;
#endif
        return Encoding.GetEncoding(codePage, EncoderFallback.ExceptionFallback, DecoderFallback.ReplacementFallback);
    }
}
