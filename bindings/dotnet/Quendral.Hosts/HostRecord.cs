namespace Quendral.Hosts;

/// <summary>One hosts entry: an address and one host name, as loaded.</summary>
/// <param name="Index">The record's position in the file's table of records.</param>
/// <param name="Address">The IPv4 or IPv6 address.</param>
/// <param name="Name">The host name.</param>
/// <param name="Enabled">False when the entry is commented out.</param>
/// <param name="Comment">The entry's comment, or an empty text.</param>
public sealed record HostRecord(int Index, string Address, string Name, bool Enabled, string Comment)
{
    /// <summary>The same entry: address, name and comment match (the state may differ).</summary>
    internal bool IsSameEntry(HostRecord other) =>
        Address == other.Address && Name == other.Name && Comment == other.Comment;
}
