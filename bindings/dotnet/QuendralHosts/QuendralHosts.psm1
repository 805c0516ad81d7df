# Cmdlets over the Quendral.Hosts binding (its netstandard2.0 build, so that
# Windows PowerShell 5.1 and PowerShell 7.4 and later can load it). The
# library holds one hosts file per process; every command loads the file it
# works on, edits through the binding's editing model (docs/editing.md), and
# saves once, only when something changed. Written for PowerShell 5.1 syntax.
Set-StrictMode -Version 3.0

# The words qhosts uses for the same refusal: an empty path would select the
# system hosts file, and is far more likely an unset variable.
$script:EmptyPath = '--file needs a non-empty path'

# PowerShell's current location is not the process's: paths are resolved here.
function Resolve-HostsPath {
    param($Cmdlet, [string] $Path, [bool] $Given)
    if (-not $Given) { return $null }
    if ($Path -eq '') {
        $Cmdlet.ThrowTerminatingError([System.Management.Automation.ErrorRecord]::new(
            [System.ArgumentException]::new($script:EmptyPath), 'QuendralHosts.EmptyPath', 'InvalidArgument', $Path))
    }
    $Cmdlet.GetUnresolvedProviderPathFromPSPath($Path)
}

# The error category for each kind of failure the binding reports.
function Get-HostsErrorCategory([System.Exception] $Exception) {
    if ($Exception -is [System.ArgumentException]) { return 'InvalidArgument' }
    if ($Exception -is [System.UnauthorizedAccessException]) { return 'PermissionDenied' }
    if ($Exception -is [System.InvalidOperationException]) { return 'InvalidOperation' }
    if ($Exception -is [Quendral.Hosts.HostsException] -and
        $Exception.Kind -eq [Quendral.Hosts.HostsErrorKind]::Changed) { return 'ResourceUnavailable' }
    'WriteError'
}

function New-HostsErrorRecord([System.Exception] $Exception, [object] $Target) {
    # A .NET method called from PowerShell throws its exception wrapped.
    if ($Exception -is [System.Management.Automation.MethodInvocationException] -and $Exception.InnerException) {
        $Exception = $Exception.InnerException
    }
    if ($Exception -isnot [System.UnauthorizedAccessException]) {
        return [System.Management.Automation.ErrorRecord]::new(
            $Exception, 'QuendralHosts.Failed', (Get-HostsErrorCategory $Exception), $Target)
    }
    # Refused for want of rights: PermissionDenied, with the way to get them
    # as the recommended action.
    $record = [System.Management.Automation.ErrorRecord]::new(
        $Exception, 'QuendralHosts.AccessDenied', 'PermissionDenied', $Target)
    $record.ErrorDetails = [System.Management.Automation.ErrorDetails]::new($Exception.Message)
    $record.ErrorDetails.RecommendedAction = if ([System.Environment]::OSVersion.Platform -eq 'Win32NT') {
        'Run PowerShell as administrator (elevated) and try again.'
    } else {
        'Run PowerShell as root (for example: sudo pwsh) and try again.'
    }
    $record
}

function Stop-WithHostsError {
    param($Cmdlet, [System.Exception] $Exception, [object] $Target)
    $Cmdlet.ThrowTerminatingError((New-HostsErrorRecord $Exception $Target))
}

function Write-NotFound {
    param($Cmdlet, [string] $Message, [object] $Target)
    $Cmdlet.WriteError([System.Management.Automation.ErrorRecord]::new(
        [System.Management.Automation.ItemNotFoundException]::new($Message), 'QuendralHosts.NotFound', 'ObjectNotFound', $Target))
}

function Open-HostsFile {
    param($Cmdlet, [string] $FullPath)
    try {
        $file = if ($FullPath) { [Quendral.Hosts.HostsFile]::new($FullPath) } else { [Quendral.Hosts.HostsFile]::new() }
        $file.Load()
        $file
    } catch {
        Stop-WithHostsError $Cmdlet $_.Exception $FullPath
    }
}

# Saves the file when something changed; a refusal for want of rights is the
# PermissionDenied record of New-HostsErrorRecord.
function Save-HostsFile {
    param($Cmdlet, $File)
    if (-not $File.IsModified) { return }
    try { $File.Save() }
    catch { Stop-WithHostsError $Cmdlet $_.Exception $File.Path }
}

function Get-FileLabel([string] $FullPath) {
    if ($FullPath) { $FullPath } else { 'the system hosts file' }
}

# Records go out with the file they came from, so that a pipeline into an
# editing command edits that same file; the system file's have no Path.
function Write-HostsRecord {
    param($Record, [string] $FullPath)
    $out = [System.Management.Automation.PSObject]::AsPSObject($Record)
    if ($FullPath) {
        $out.PSObject.Properties.Add([System.Management.Automation.PSNoteProperty]::new('Path', $FullPath))
    }
    $out
}

function Test-Wildcard([string] $Text) {
    [System.Management.Automation.WildcardPattern]::ContainsWildcardCharacters($Text)
}

# The records that the Name and Address patterns choose: a pattern without
# wildcards is matched as the editing model compares (names ignoring ASCII
# case, addresses by value), one with wildcards as text with -like.
function Select-HostsRecord {
    param($File, [string[]] $Name, [string[]] $Address)
    $records = $File.GetRecords()
    # The indexes each pattern chooses, found once per pattern.
    $byName = @(foreach ($pattern in @($Name | Where-Object { $_ })) {
        if (Test-Wildcard $pattern) { , @($records | Where-Object { $_.Name -like $pattern } | ForEach-Object { $_.Index }) }
        else { , @($File.Find($pattern, [NullString]::Value) | ForEach-Object { $_.Index }) }
    })
    $byAddress = @(foreach ($pattern in @($Address | Where-Object { $_ })) {
        if (Test-Wildcard $pattern) { , @($records | Where-Object { $_.Address -like $pattern } | ForEach-Object { $_.Index }) }
        else { , @($File.Find([NullString]::Value, $pattern) | ForEach-Object { $_.Index }) }
    })
    $nameHits = @{}
    foreach ($set in $byName) { foreach ($i in $set) { $nameHits[$i] = $true } }
    $addressHits = @{}
    foreach ($set in $byAddress) { foreach ($i in $set) { $addressHits[$i] = $true } }
    foreach ($record in $records) {
        if ($byName.Count -and -not $nameHits.ContainsKey($record.Index)) { continue }
        if ($byAddress.Count -and -not $addressHits.ContainsKey($record.Index)) { continue }
        $record
    }
}

# Reports, in qhosts's words, each pattern without wildcards that chose nothing.
function Write-Unmatched {
    param($Cmdlet, $File, [string[]] $Name, [string[]] $Address)
    foreach ($pattern in @($Name)) {
        if ($pattern -and -not (Test-Wildcard $pattern) -and -not $File.Contains($pattern, [NullString]::Value)) {
            Write-NotFound $Cmdlet "no record named '$pattern'" $pattern
        }
    }
    foreach ($pattern in @($Address)) {
        if ($pattern -and -not (Test-Wildcard $pattern) -and -not $File.Contains([NullString]::Value, $pattern)) {
            Write-NotFound $Cmdlet "no record with the address '$pattern'" $pattern
        }
    }
}

# The shared body of Enable-, Disable- and Remove-HostsEntry. Requests are
# gathered per file in the process block and applied in the end block: records
# from the pipeline (checked against the file as it is now), indexes, or
# records chosen by name and address.
function Add-PendingEdit {
    param($Cmdlet, [System.Collections.IDictionary] $Pending, [string] $Path, [bool] $PathGiven,
          $InputObject, [int[]] $Index, [string[]] $Name, [string[]] $Address)
    $fullPath = Resolve-HostsPath $Cmdlet $Path $PathGiven
    $key = if ($fullPath) { $fullPath } else { '' }
    if (-not $Pending.Contains($key)) {
        $Pending[$key] = @{ Records = [System.Collections.Generic.List[object]]::new(); Index = [System.Collections.Generic.List[int]]::new();
                            Names = [System.Collections.Generic.List[string]]::new(); Addresses = [System.Collections.Generic.List[string]]::new() }
    }
    $request = $Pending[$key]
    foreach ($record in @($InputObject)) { if ($null -ne $record) { $request.Records.Add($record) } }
    foreach ($i in @($Index)) { if ($null -ne $i) { $request.Index.Add($i) } }
    if ($Name -or $Address) {
        $request.Names.Add(($Name -join "`n"))
        $request.Addresses.Add(($Address -join "`n"))
    }
}

function Invoke-HostsEdit {
    param($Cmdlet, [System.Collections.IDictionary] $Pending, [string] $Action, [Nullable[bool]] $Enable, [bool] $PassThru)
    foreach ($key in $Pending.Keys) {
        $request = $Pending[$key]
        $fullPath = if ($key) { $key } else { $null }
        $file = Open-HostsFile $Cmdlet $fullPath
        $chosen = [System.Collections.Generic.List[object]]::new()
        foreach ($record in $request.Records) { $chosen.Add($record) }
        foreach ($i in $request.Index) {
            $count = $file.Count
            if ($i -lt 0 -or $i -ge $count) {
                $Cmdlet.WriteError((New-HostsErrorRecord ([System.ArgumentOutOfRangeException]::new($null, "index $i out of range (count $count)")) $i))
                continue
            }
            $chosen.Add($file.GetRecords()[$i])
        }
        for ($n = 0; $n -lt $request.Names.Count; $n++) {
            $names = @($request.Names[$n] -split "`n" | Where-Object { $_ })
            $addresses = @($request.Addresses[$n] -split "`n" | Where-Object { $_ })
            Write-Unmatched $Cmdlet $file $names $addresses
            foreach ($record in @(Select-HostsRecord $file $names $addresses)) { $chosen.Add($record) }
        }
        $seen = @{}
        $unique = @($chosen | Where-Object { $k = "$($_.Index)"; if ($seen.ContainsKey($k)) { $false } else { $seen[$k] = $true; $true } })
        $done = [System.Collections.Generic.List[object]]::new()
        # From the last record to the first, so that a removal moves none still to do.
        foreach ($record in @($unique | Sort-Object -Property Index -Descending)) {
            if ($null -ne $Enable -and $record.Enabled -eq $Enable) { $done.Insert(0, $record); continue }
            if (-not $Cmdlet.ShouldProcess("$($record.Address) $($record.Name) in $(Get-FileLabel $fullPath)", $Action)) { continue }
            try {
                if ($null -eq $Enable) { $file.Remove([Quendral.Hosts.HostRecord] $record) }
                elseif ($Enable) { $file.Enable([Quendral.Hosts.HostRecord] $record) }
                else { $file.Disable([Quendral.Hosts.HostRecord] $record) }
                $done.Insert(0, $record)
            } catch {
                $Cmdlet.WriteError((New-HostsErrorRecord $_.Exception $record))
            }
        }
        Save-HostsFile $Cmdlet $file
        if ($PassThru) {
            foreach ($record in $done) {
                if ($null -eq $Enable) { Write-HostsRecord $record $fullPath }
                else { Write-HostsRecord $file.GetRecords()[$record.Index] $fullPath }
            }
        }
    }
}

<#
.SYNOPSIS
Lists hosts file entries.
.DESCRIPTION
Writes one record per entry (Index, Enabled, Address, Name, Comment, and Path when a path was given), in file order.
A Name or Address without wildcards matches as qhosts does: names ignoring case, addresses by value (10.0.0.01 is
10.0.0.1); one with wildcards matches the text.
.PARAMETER Name
Host names or wildcard patterns; an entry is listed when its name matches any of them.
.PARAMETER Address
Addresses or wildcard patterns; an entry is listed when its address matches any of them.
.PARAMETER Enabled
Lists only enabled entries.
.PARAMETER Disabled
Lists only disabled (commented-out) entries.
.PARAMETER Path
The hosts file; without it, the system hosts file. An empty path is refused.
.EXAMPLE
Get-HostsEntry -Name '*.lan' -Enabled
.EXAMPLE
Get-HostsEntry -Address 10.0.0.5 -Path ./hosts
#>
function Get-HostsEntry {
    [CmdletBinding(DefaultParameterSetName = 'All')]
    [OutputType([Quendral.Hosts.HostRecord])]
    param(
        [Parameter(Position = 0, ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string[]] $Name,
        [Parameter(Position = 1, ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string[]] $Address,
        [Parameter(ParameterSetName = 'Enabled')] [switch] $Enabled,
        [Parameter(ParameterSetName = 'Disabled')] [switch] $Disabled,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path
    )
    process {
        $fullPath = Resolve-HostsPath $PSCmdlet $Path $PSBoundParameters.ContainsKey('Path')
        $file = Open-HostsFile $PSCmdlet $fullPath
        foreach ($record in @(Select-HostsRecord $file $Name $Address)) {
            if ($Enabled -and -not $record.Enabled) { continue }
            if ($Disabled -and $record.Enabled) { continue }
            Write-HostsRecord $record $fullPath
        }
    }
}

<#
.SYNOPSIS
Tells whether the hosts file has an entry with a name and/or an address.
.DESCRIPTION
Returns $true when Get-HostsEntry with the same Name and Address would list an entry, enabled or not (with -Enabled:
only an enabled one), and $false otherwise.
.PARAMETER Name
A host name or wildcard pattern.
.PARAMETER Address
An address or wildcard pattern; without wildcards it compares by value.
.PARAMETER Enabled
Counts only enabled entries.
.PARAMETER Path
The hosts file; without it, the system hosts file. An empty path is refused.
.EXAMPLE
if (-not (Test-HostsEntry build.lan 10.0.0.5 -Enabled)) { Add-HostsEntry build.lan 10.0.0.5 }
#>
function Test-HostsEntry {
    [CmdletBinding()]
    [OutputType([bool])]
    param(
        [Parameter(Position = 0, ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string] $Name,
        [Parameter(Position = 1, ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string] $Address,
        [switch] $Enabled,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path
    )
    process {
        if (-not $Name -and -not $Address) {
            $PSCmdlet.ThrowTerminatingError((New-HostsErrorRecord ([System.ArgumentException]::new('give a name, an address or both')) $null))
        }
        $fullPath = Resolve-HostsPath $PSCmdlet $Path $PSBoundParameters.ContainsKey('Path')
        $file = Open-HostsFile $PSCmdlet $fullPath
        $found = @(Select-HostsRecord $file @($Name | Where-Object { $_ }) @($Address | Where-Object { $_ }) |
            Where-Object { -not $Enabled -or $_.Enabled })
        $found.Count -gt 0
    }
}

<#
.SYNOPSIS
Adds an enabled entry, unless an enabled one with the same name and address is there.
.DESCRIPTION
Names compare ignoring case and addresses by value, so running the command again changes nothing. A disabled entry
with the name and address does not count (Set-HostsEntry enables it instead).
.PARAMETER Name
The host name.
.PARAMETER Address
The IPv4 or IPv6 address.
.PARAMETER Comment
The entry's comment, stored trimmed.
.PARAMETER Path
The hosts file; without it, the system hosts file. An empty path is refused.
.PARAMETER PassThru
Writes the entry (the new one, or the one that was there).
.EXAMPLE
Add-HostsEntry build.lan 10.0.0.5 'CI runner' -Path ./hosts -PassThru
.EXAMPLE
Import-Csv hosts.csv | Add-HostsEntry
#>
function Add-HostsEntry {
    [CmdletBinding(SupportsShouldProcess)]
    [OutputType([Quendral.Hosts.HostRecord])]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipelineByPropertyName)] [string] $Name,
        [Parameter(Mandatory, Position = 1, ValueFromPipelineByPropertyName)] [string] $Address,
        [Parameter(Position = 2, ValueFromPipelineByPropertyName)] [AllowEmptyString()] [string] $Comment,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path,
        [switch] $PassThru
    )
    process {
        $fullPath = Resolve-HostsPath $PSCmdlet $Path $PSBoundParameters.ContainsKey('Path')
        $file = Open-HostsFile $PSCmdlet $fullPath
        # A $null given to a .NET method's string becomes an empty text; NullString stays null.
        $note = if ($PSBoundParameters.ContainsKey('Comment') -and $Comment) { $Comment } else { [NullString]::Value }
        try {
            $present = @($file.Find($Name, $Address) | Where-Object Enabled)
            if ($present.Count -eq 0 -and -not $PSCmdlet.ShouldProcess("$Address $Name in $(Get-FileLabel $fullPath)", 'Add hosts entry')) { return }
            $record = $file.Add($Address, $Name, $note)
        } catch {
            Stop-WithHostsError $PSCmdlet $_.Exception "$Address $Name"
        }
        Save-HostsFile $PSCmdlet $file
        if ($PassThru) { Write-HostsRecord $record $fullPath }
    }
}

<#
.SYNOPSIS
Makes a name resolve to exactly one address.
.DESCRIPTION
Afterwards Name has exactly one enabled entry, with Address: an enabled entry with that address is kept, a disabled
one is enabled rather than a second added, and every other enabled entry of the name is disabled (kept as a comment
line). A Comment that differs from the kept entry's writes the entry anew at the end of the entries. When nothing
needs to change, the file is not written.
.PARAMETER Name
The host name.
.PARAMETER Address
The one address the name is to have.
.PARAMETER Comment
The entry's comment; without it, a kept entry keeps its own.
.PARAMETER Path
The hosts file; without it, the system hosts file. An empty path is refused.
.PARAMETER PassThru
Writes the name's enabled entry.
.EXAMPLE
Set-HostsEntry api.lan 10.0.0.7
.EXAMPLE
Set-HostsEntry -Name api.lan -Address 10.0.0.7 -Comment 'moved' -WhatIf
#>
function Set-HostsEntry {
    [CmdletBinding(SupportsShouldProcess)]
    [OutputType([Quendral.Hosts.HostRecord])]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipelineByPropertyName)] [string] $Name,
        [Parameter(Mandatory, Position = 1, ValueFromPipelineByPropertyName)] [string] $Address,
        [Parameter(Position = 2, ValueFromPipelineByPropertyName)] [AllowEmptyString()] [string] $Comment,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path,
        [switch] $PassThru
    )
    process {
        $fullPath = Resolve-HostsPath $PSCmdlet $Path $PSBoundParameters.ContainsKey('Path')
        $file = Open-HostsFile $PSCmdlet $fullPath
        $note = if ($PSBoundParameters.ContainsKey('Comment')) { $Comment } else { [NullString]::Value }
        if (-not $PSCmdlet.ShouldProcess("$Address $Name in $(Get-FileLabel $fullPath)", 'Set hosts entry')) { return }
        try {
            $record = $file.Set($Address, $Name, $note)
        } catch {
            Stop-WithHostsError $PSCmdlet $_.Exception "$Address $Name"
        }
        Save-HostsFile $PSCmdlet $file
        if ($PassThru) { Write-HostsRecord $record $fullPath }
    }
}

<#
.SYNOPSIS
Enables (uncomments) entries: from the pipeline, by index, or by name and address.
.DESCRIPTION
A Name or Address without wildcards that matches no entry is reported as an ObjectNotFound error, as qhosts reports
it; entries already enabled are left alone.
.PARAMETER InputObject
Records from Get-HostsEntry; each is checked against the file as it is now.
.PARAMETER Index
Record indexes, as Get-HostsEntry shows them.
.PARAMETER Name
Host names or wildcard patterns.
.PARAMETER Address
Addresses or wildcard patterns; with Name, an entry must match both.
.PARAMETER Path
The hosts file; without it, the system hosts file. An empty path is refused.
.PARAMETER PassThru
Writes the chosen entries as they are afterwards.
.EXAMPLE
Get-HostsEntry -Name build.lan -Disabled | Enable-HostsEntry
.EXAMPLE
Enable-HostsEntry -Address 10.0.0.9 -Path ./hosts -PassThru
#>
function Enable-HostsEntry {
    [CmdletBinding(SupportsShouldProcess, DefaultParameterSetName = 'Name')]
    [OutputType([Quendral.Hosts.HostRecord])]
    param(
        [Parameter(Mandatory, ValueFromPipeline, ParameterSetName = 'Record')] [Quendral.Hosts.HostRecord[]] $InputObject,
        [Parameter(Mandatory, ParameterSetName = 'Index')] [int[]] $Index,
        [Parameter(Position = 0, ParameterSetName = 'Name', ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string[]] $Name,
        [Parameter(Position = 1, ParameterSetName = 'Name', ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string[]] $Address,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path,
        [switch] $PassThru
    )
    begin { $pending = [ordered]@{} }
    process { Add-PendingEdit $PSCmdlet $pending $Path $PSBoundParameters.ContainsKey('Path') $InputObject $Index $Name $Address }
    end { Invoke-HostsEdit $PSCmdlet $pending 'Enable hosts entry' $true $PassThru }
}

<#
.SYNOPSIS
Disables (comments out) entries: from the pipeline, by index, or by name and address.
.DESCRIPTION
A Name or Address without wildcards that matches no entry is reported as an ObjectNotFound error; entries already
disabled are left alone. A disabled entry stays in the file as a comment line.
.PARAMETER InputObject
Records from Get-HostsEntry; each is checked against the file as it is now.
.PARAMETER Index
Record indexes, as Get-HostsEntry shows them.
.PARAMETER Name
Host names or wildcard patterns.
.PARAMETER Address
Addresses or wildcard patterns; with Name, an entry must match both.
.PARAMETER Path
The hosts file; without it, the system hosts file. An empty path is refused.
.PARAMETER PassThru
Writes the chosen entries as they are afterwards.
.EXAMPLE
Disable-HostsEntry 'ads.*'
.EXAMPLE
Disable-HostsEntry -Index 0, 3 -Path ./hosts
#>
function Disable-HostsEntry {
    [CmdletBinding(SupportsShouldProcess, DefaultParameterSetName = 'Name')]
    [OutputType([Quendral.Hosts.HostRecord])]
    param(
        [Parameter(Mandatory, ValueFromPipeline, ParameterSetName = 'Record')] [Quendral.Hosts.HostRecord[]] $InputObject,
        [Parameter(Mandatory, ParameterSetName = 'Index')] [int[]] $Index,
        [Parameter(Position = 0, ParameterSetName = 'Name', ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string[]] $Name,
        [Parameter(Position = 1, ParameterSetName = 'Name', ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string[]] $Address,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path,
        [switch] $PassThru
    )
    begin { $pending = [ordered]@{} }
    process { Add-PendingEdit $PSCmdlet $pending $Path $PSBoundParameters.ContainsKey('Path') $InputObject $Index $Name $Address }
    end { Invoke-HostsEdit $PSCmdlet $pending 'Disable hosts entry' $false $PassThru }
}

<#
.SYNOPSIS
Removes entries: from the pipeline, by index, or by name and address.
.DESCRIPTION
A Name or Address without wildcards that matches no entry is reported as an ObjectNotFound error. Asks for
confirmation unless -Confirm:$false.
.PARAMETER InputObject
Records from Get-HostsEntry; each is checked against the file as it is now.
.PARAMETER Index
Record indexes, as Get-HostsEntry shows them.
.PARAMETER Name
Host names or wildcard patterns.
.PARAMETER Address
Addresses or wildcard patterns; with Name, an entry must match both.
.PARAMETER Path
The hosts file; without it, the system hosts file. An empty path is refused.
.PARAMETER PassThru
Writes the removed entries as they were.
.EXAMPLE
Get-HostsEntry -Address 0.0.0.0 | Remove-HostsEntry -Confirm:$false
.EXAMPLE
Remove-HostsEntry old.lan -Path ./hosts -Confirm:$false
#>
function Remove-HostsEntry {
    [CmdletBinding(SupportsShouldProcess, ConfirmImpact = 'High', DefaultParameterSetName = 'Name')]
    [OutputType([Quendral.Hosts.HostRecord])]
    param(
        [Parameter(Mandatory, ValueFromPipeline, ParameterSetName = 'Record')] [Quendral.Hosts.HostRecord[]] $InputObject,
        [Parameter(Mandatory, ParameterSetName = 'Index')] [int[]] $Index,
        [Parameter(Position = 0, ParameterSetName = 'Name', ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string[]] $Name,
        [Parameter(Position = 1, ParameterSetName = 'Name', ValueFromPipelineByPropertyName)] [SupportsWildcards()] [string[]] $Address,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path,
        [switch] $PassThru
    )
    begin { $pending = [ordered]@{} }
    process { Add-PendingEdit $PSCmdlet $pending $Path $PSBoundParameters.ContainsKey('Path') $InputObject $Index $Name $Address }
    end { Invoke-HostsEdit $PSCmdlet $pending 'Remove hosts entry' $null $PassThru }
}

<#
.SYNOPSIS
Flushes the system's DNS resolver cache.
.DESCRIPTION
When the resolver's own call was not used but the system command worked, the library's note is written as a
verbose message.
.EXAMPLE
Clear-HostsResolverCache -Verbose
#>
function Clear-HostsResolverCache {
    [CmdletBinding(SupportsShouldProcess)]
    param()
    if (-not $PSCmdlet.ShouldProcess('the DNS resolver cache', 'Clear')) { return }
    try {
        $note = [Quendral.Hosts.HostsFile]::FlushDns()
    } catch {
        Stop-WithHostsError $PSCmdlet $_.Exception 'the DNS resolver cache'
    }
    if ($note) { Write-Verbose $note }
}

# Tab completion of -Name: the names in the file that -Path names (or the
# system hosts file), each once, in file order.
$completeName = {
    param($commandName, $parameterName, $wordToComplete, $commandAst, $fakeBoundParameters)
    try {
        $file = if ($fakeBoundParameters.ContainsKey('Path') -and $fakeBoundParameters['Path']) {
            [Quendral.Hosts.HostsFile]::new($ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($fakeBoundParameters['Path']))
        } else { [Quendral.Hosts.HostsFile]::new() }
        $file.Load()
        $seen = @{}
        foreach ($record in $file.GetRecords()) {
            $key = $record.Name.ToLowerInvariant()
            if ($seen.ContainsKey($key) -or $record.Name -notlike "$wordToComplete*") { continue }
            $seen[$key] = $true
            [System.Management.Automation.CompletionResult]::new($record.Name, $record.Name, 'ParameterValue', "$($record.Address) $($record.Name)")
        }
    } catch {
        # A file that cannot be read completes nothing.
    }
}
Register-ArgumentCompleter -ParameterName Name -ScriptBlock $completeName -CommandName @(
    'Get-HostsEntry', 'Test-HostsEntry', 'Add-HostsEntry', 'Set-HostsEntry', 'Enable-HostsEntry', 'Disable-HostsEntry', 'Remove-HostsEntry')
