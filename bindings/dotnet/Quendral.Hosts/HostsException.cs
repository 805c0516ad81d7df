using System;

namespace Quendral.Hosts;

/// <summary>What kind of failure a <see cref="HostsException"/> is.</summary>
public enum HostsErrorKind
{
    /// <summary>A failure of the library that has no kind of its own: a file that cannot be
    /// read or written, a save that could not replace the file, and the like.</summary>
    Failed,

    /// <summary>The save found that another program changed the file since it was loaded;
    /// nothing was written. Load again and repeat the edit.</summary>
    Changed,
}

/// <summary>A library call failed; <see cref="Exception.Message"/> is the library's own error text.
/// Refused input is an <see cref="ArgumentException"/>, an index outside the records an
/// <see cref="ArgumentOutOfRangeException"/> and refused access an
/// <see cref="UnauthorizedAccessException"/> instead, each with the library's text; for refused
/// access the text is followed by a hint to run elevated (as root elsewhere).</summary>
public sealed class HostsException : Exception
{
    /// <summary>Creates the exception for a failure of the hosts file at <paramref name="path"/>.</summary>
    public HostsException(string message, string? path = null, Exception? innerException = null)
        : this(message, HostsErrorKind.Failed, path, innerException)
    {
    }

    /// <summary>Creates the exception of a given kind.</summary>
    public HostsException(string message, HostsErrorKind kind, string? path = null, Exception? innerException = null)
        : base(message, innerException)
    {
        Kind = kind;
        Path = path;
    }

    /// <summary>What kind of failure this is; <see cref="HostsErrorKind.Changed"/> asks for a retry.</summary>
    public HostsErrorKind Kind { get; }

    /// <summary>The hosts file the failed call worked on, when the error concerns a file
    /// chosen by path; null for the system hosts file and for errors about no file.</summary>
    public string? Path { get; }
}
