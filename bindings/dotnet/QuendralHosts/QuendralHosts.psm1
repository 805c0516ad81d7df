# Cmdlets over the Quendral.Hosts binding. The library holds one hosts file per
# process; every command loads the file it works on, edits, and saves once.
Set-StrictMode -Version 3.0

# PowerShell's current location is not the process's: paths are resolved here.
function Resolve-HostsPath {
    param($Cmdlet, [string] $Path)
    if (-not $Path) { return '' }
    $Cmdlet.GetUnresolvedProviderPathFromPSPath($Path)
}

function Stop-WithHostsError {
    param($Cmdlet, [System.Exception] $Exception, [string] $Target)
    $category = if ($Exception -is [System.ArgumentException]) { 'InvalidArgument' } else { 'WriteError' }
    $Cmdlet.ThrowTerminatingError(
        [System.Management.Automation.ErrorRecord]::new($Exception, 'QuendralHosts.Failed', $category, $Target))
}

function Write-HostsError {
    param($Cmdlet, [System.Exception] $Exception, [object] $Target)
    $category = if ($Exception -is [System.ArgumentException]) { 'InvalidArgument' } else { 'WriteError' }
    $Cmdlet.WriteError(
        [System.Management.Automation.ErrorRecord]::new($Exception, 'QuendralHosts.Failed', $category, $Target))
}

function Open-HostsFile {
    param($Cmdlet, [string] $FullPath)
    try {
        $file = [Quendral.Hosts.HostsFile]::new($FullPath)
        $file.Load()
        $file
    } catch [Quendral.Hosts.HostsException], [System.ArgumentException] {
        Stop-WithHostsError $Cmdlet $_.Exception $FullPath
    }
}

# A save the system refused for want of rights is PermissionDenied, with the
# way to get them as the recommended action.
function Save-HostsFile {
    param($Cmdlet, $File)
    try { $File.Save() }
    catch [Quendral.Hosts.HostsException] {
        $exception = $_.Exception
        if ($exception.InnerException -isnot [System.UnauthorizedAccessException]) {
            Stop-WithHostsError $Cmdlet $exception $File.Path
        }
        $record = [System.Management.Automation.ErrorRecord]::new(
            $exception, 'QuendralHosts.AccessDenied', 'PermissionDenied', $File.Path)
        $record.ErrorDetails = [System.Management.Automation.ErrorDetails]::new($exception.Message)
        $record.ErrorDetails.RecommendedAction = if ([System.Environment]::OSVersion.Platform -eq 'Win32NT') {
            'Run PowerShell as administrator (elevated) and try again.'
        } else {
            'Run PowerShell as root (for example: sudo pwsh) and try again.'
        }
        $Cmdlet.ThrowTerminatingError($record)
    }
}

function Get-FileLabel([string] $FullPath) {
    if ($FullPath) { $FullPath } else { 'the system hosts file' }
}

# Records go out with the file they came from, so that a pipeline into an
# editing cmdlet edits that same file.
function Write-HostsRecord {
    param($Record, [string] $FullPath)
    $out = [System.Management.Automation.PSObject]::AsPSObject($Record)
    $out.PSObject.Properties.Add([System.Management.Automation.PSNoteProperty]::new('Path', $(if ($FullPath) { $FullPath } else { $null })))
    $out
}

function Select-ByWildcard {
    param($Records, [string[]] $Name, [string[]] $Address)
    foreach ($record in $Records) {
        if ($Name -and -not ($Name | Where-Object { $record.Name -like $_ })) { continue }
        if ($Address -and -not ($Address | Where-Object { $record.Address -like $_ })) { continue }
        $record
    }
}

# The shared body of Enable-, Disable- and Remove-HostsEntry: records from the
# pipeline (checked against the file as it is now) or chosen by name and address.
function Invoke-HostsEdit {
    param($Cmdlet, [System.Collections.IDictionary] $Pending, [string] $Action, [scriptblock] $Skip, [scriptblock] $Apply)
    foreach ($fullPath in $Pending.Keys) {
        $request = $Pending[$fullPath]
        $file = Open-HostsFile $Cmdlet $fullPath
        $records = if ($request.Records.Count) { $request.Records } else {
            Select-ByWildcard $file.Records $request.Name $request.Address
        }
        $changed = $false
        # From the last record to the first, so that a removal moves none still to do.
        foreach ($record in @($records | Sort-Object -Property Index -Descending)) {
            if (& $Skip $record) { continue }
            if (-not $Cmdlet.ShouldProcess("$($record.Address) $($record.Name) in $(Get-FileLabel $fullPath)", $Action)) { continue }
            try {
                & $Apply $file $record
                $changed = $true
            } catch [Quendral.Hosts.HostsException], [System.ArgumentException] {
                Write-HostsError $Cmdlet $_.Exception $record
            }
        }
        if ($changed) { Save-HostsFile $Cmdlet $file }
    }
}

function Add-PendingEdit {
    param($Cmdlet, [System.Collections.IDictionary] $Pending, [string] $Path, $InputObject, [string[]] $Name, [string[]] $Address)
    $fullPath = Resolve-HostsPath $Cmdlet $Path
    if (-not $Pending.Contains($fullPath)) {
        $Pending[$fullPath] = @{ Records = [System.Collections.Generic.List[object]]::new(); Name = $Name; Address = $Address }
    }
    foreach ($record in @($InputObject)) {
        if ($null -ne $record) { $Pending[$fullPath].Records.Add($record) }
    }
}

<#
.SYNOPSIS
Lists hosts file entries.
.DESCRIPTION
Writes one object per entry (Index, Address, Name, Enabled, Comment, Path). Name and Address take wildcards.
.EXAMPLE
Get-HostsEntry -Name '*.lan' -Enabled
#>
function Get-HostsEntry {
    [CmdletBinding(DefaultParameterSetName = 'All')]
    [OutputType([Quendral.Hosts.HostRecord])]
    param(
        [Parameter(Position = 0)] [SupportsWildcards()] [string[]] $Name,
        [SupportsWildcards()] [string[]] $Address,
        [Parameter(ParameterSetName = 'Enabled')] [switch] $Enabled,
        [Parameter(ParameterSetName = 'Disabled')] [switch] $Disabled,
        [string] $Path
    )
    $fullPath = Resolve-HostsPath $PSCmdlet $Path
    $file = Open-HostsFile $PSCmdlet $fullPath
    foreach ($record in Select-ByWildcard $file.Records $Name $Address) {
        if ($Enabled -and -not $record.Enabled) { continue }
        if ($Disabled -and $record.Enabled) { continue }
        Write-HostsRecord $record $fullPath
    }
}

<#
.SYNOPSIS
Adds an enabled entry, unless the same enabled address and name is already there.
.EXAMPLE
Add-HostsEntry -Address 10.0.0.5 -Name build.lan -Comment 'CI runner'
#>
function Add-HostsEntry {
    [CmdletBinding(SupportsShouldProcess)]
    [OutputType([Quendral.Hosts.HostRecord])]
    param(
        [Parameter(Mandatory, Position = 0)] [string] $Address,
        [Parameter(Mandatory, Position = 1)] [string] $Name,
        [Parameter(Position = 2)] [string] $Comment,
        [string] $Path
    )
    $fullPath = Resolve-HostsPath $PSCmdlet $Path
    $file = Open-HostsFile $PSCmdlet $fullPath
    $existing = @($file.Records | Where-Object { $_.Enabled -and $_.Address -eq $Address -and $_.Name -eq $Name })
    if ($existing) { return Write-HostsRecord $existing[0] $fullPath }
    if (-not $PSCmdlet.ShouldProcess("$Address $Name in $(Get-FileLabel $fullPath)", 'Add hosts entry')) { return }
    try {
        $record = $file.Add($Address, $Name, $(if ($PSBoundParameters.ContainsKey('Comment')) { $Comment } else { $null }))
    } catch [Quendral.Hosts.HostsException], [System.ArgumentException] {
        Stop-WithHostsError $PSCmdlet $_.Exception "$Address $Name"
    }
    Save-HostsFile $PSCmdlet $file
    Write-HostsRecord $record $fullPath
}

<#
.SYNOPSIS
Makes a name resolve to exactly one address.
.DESCRIPTION
Afterwards Name has exactly one enabled entry, with Address: an enabled entry with that address is kept (its comment
updated when -Comment is given), a disabled one is enabled rather than a second added, and every other enabled entry
of the name is disabled (kept as a comment line). When nothing needs to change, the file is not written.
.EXAMPLE
Set-HostsEntry -Name api.lan -Address 10.0.0.7
#>
function Set-HostsEntry {
    [CmdletBinding(SupportsShouldProcess)]
    [OutputType([Quendral.Hosts.HostRecord])]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipelineByPropertyName)] [string] $Name,
        [Parameter(Mandatory, Position = 1, ValueFromPipelineByPropertyName)] [string] $Address,
        [Parameter(Position = 2)] [string] $Comment,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path
    )
    process {
        $fullPath = Resolve-HostsPath $PSCmdlet $Path
        $file = Open-HostsFile $PSCmdlet $fullPath
        $label = Get-FileLabel $fullPath
        $records = @($file.Records | Where-Object { $_.Name -eq $Name })
        $keep = @($records | Where-Object { $_.Address -eq $Address } | Sort-Object -Property @{ Expression = 'Enabled'; Descending = $true }, Index)
        $keep = if ($keep) { $keep[0] } else { $null }
        $hasComment = $PSBoundParameters.ContainsKey('Comment')
        $changed = $false
        $result = $null
        try {
            foreach ($other in $records | Where-Object { $_.Enabled -and $_ -ne $keep }) {
                if ($PSCmdlet.ShouldProcess("$($other.Address) $($other.Name) in $label", 'Disable hosts entry')) {
                    $file.Disable($other)
                    $changed = $true
                }
            }
            $needsNew = $null -eq $keep -or ($hasComment -and $keep.Comment -ne $Comment)
            if ($needsNew) {
                if ($PSCmdlet.ShouldProcess("$Address $Name in $label", 'Add hosts entry')) {
                    # A new comment goes onto a new record that takes the old one's place.
                    $result = $file.Add($Address, $Name, $(if ($hasComment) { $Comment } else { $null }))
                    if ($null -ne $keep) {
                        $file.Remove($keep)
                        $result = $file.Records[$result.Index - 1]
                    }
                    $changed = $true
                }
            } elseif (-not $keep.Enabled) {
                if ($PSCmdlet.ShouldProcess("$Address $Name in $label", 'Enable hosts entry')) {
                    $file.Enable($keep)
                    $result = $file.Records[$keep.Index]
                    $changed = $true
                }
            } else {
                $result = $keep
            }
        } catch [Quendral.Hosts.HostsException], [System.ArgumentException] {
            Stop-WithHostsError $PSCmdlet $_.Exception "$Address $Name"
        }
        if ($changed) { Save-HostsFile $PSCmdlet $file }
        if ($null -ne $result) { Write-HostsRecord $result $fullPath }
    }
}

<#
.SYNOPSIS
Enables (uncomments) entries, from the pipeline or chosen by name and address.
.EXAMPLE
Get-HostsEntry -Name build.lan -Disabled | Enable-HostsEntry
#>
function Enable-HostsEntry {
    [CmdletBinding(SupportsShouldProcess, DefaultParameterSetName = 'Record')]
    param(
        [Parameter(Mandatory, ValueFromPipeline, ParameterSetName = 'Record')] [Quendral.Hosts.HostRecord[]] $InputObject,
        [Parameter(Mandatory, Position = 0, ParameterSetName = 'Name')] [SupportsWildcards()] [string[]] $Name,
        [Parameter(ParameterSetName = 'Name')] [SupportsWildcards()] [string[]] $Address,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path
    )
    begin { $pending = [ordered]@{} }
    process { Add-PendingEdit $PSCmdlet $pending $Path $InputObject $Name $Address }
    end {
        Invoke-HostsEdit $PSCmdlet $pending 'Enable hosts entry' { param($record) $record.Enabled } { param($file, $record) $file.Enable($record) }
    }
}

<#
.SYNOPSIS
Disables (comments out) entries, from the pipeline or chosen by name and address.
.EXAMPLE
Disable-HostsEntry -Name 'ads.*'
#>
function Disable-HostsEntry {
    [CmdletBinding(SupportsShouldProcess, DefaultParameterSetName = 'Record')]
    param(
        [Parameter(Mandatory, ValueFromPipeline, ParameterSetName = 'Record')] [Quendral.Hosts.HostRecord[]] $InputObject,
        [Parameter(Mandatory, Position = 0, ParameterSetName = 'Name')] [SupportsWildcards()] [string[]] $Name,
        [Parameter(ParameterSetName = 'Name')] [SupportsWildcards()] [string[]] $Address,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path
    )
    begin { $pending = [ordered]@{} }
    process { Add-PendingEdit $PSCmdlet $pending $Path $InputObject $Name $Address }
    end {
        Invoke-HostsEdit $PSCmdlet $pending 'Disable hosts entry' { param($record) -not $record.Enabled } { param($file, $record) $file.Disable($record) }
    }
}

<#
.SYNOPSIS
Removes entries, from the pipeline or chosen by name and address.
.EXAMPLE
Get-HostsEntry -Address 0.0.0.0 | Remove-HostsEntry -Confirm:$false
#>
function Remove-HostsEntry {
    [CmdletBinding(SupportsShouldProcess, ConfirmImpact = 'High', DefaultParameterSetName = 'Record')]
    param(
        [Parameter(Mandatory, ValueFromPipeline, ParameterSetName = 'Record')] [Quendral.Hosts.HostRecord[]] $InputObject,
        [Parameter(Mandatory, Position = 0, ParameterSetName = 'Name')] [SupportsWildcards()] [string[]] $Name,
        [Parameter(ParameterSetName = 'Name')] [SupportsWildcards()] [string[]] $Address,
        [Parameter(ValueFromPipelineByPropertyName)] [string] $Path
    )
    begin { $pending = [ordered]@{} }
    process { Add-PendingEdit $PSCmdlet $pending $Path $InputObject $Name $Address }
    end {
        Invoke-HostsEdit $PSCmdlet $pending 'Remove hosts entry' { param($record) $false } { param($file, $record) $file.Remove($record) }
    }
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
    } catch [Quendral.Hosts.HostsException] {
        Stop-WithHostsError $PSCmdlet $_.Exception 'the DNS resolver cache'
    }
    if ($note) { Write-Verbose $note }
}
