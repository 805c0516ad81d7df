using System;

namespace Quendral.Hosts;

/// <summary>A library call failed; <see cref="Exception.Message"/> is the library's own error text,
/// followed, for a save the system refused, by a hint to run elevated.</summary>
public sealed class HostsException : Exception
{
    /// <summary>Creates the exception for a failure of the hosts file at <paramref name="path"/>.</summary>
    public HostsException(string message, string? path = null, Exception? innerException = null)
        : base(message, innerException)
    {
        Path = path;
    }

    /// <summary>The hosts file the failed call worked on, when the error concerns a file
    /// chosen by path; null for the system hosts file and for errors about no file.</summary>
    public string? Path { get; }
}
