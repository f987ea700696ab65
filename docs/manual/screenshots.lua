-- Pandoc filter of the manual: a figure names a screenshot under docs/screenshots/.
-- A screenshot that exists is converted to EPS and placed with groff's PSPIC macro; one that
-- does not exist yet is left out, and the build says which file it expected.
local shots = os.getenv('KESTROVA_SCREENSHOTS') or 'screenshots'
local work = os.getenv('KESTROVA_MANUAL_WORK') or '.'
local max_width_in = 5.5

local function exists(path)
  local f = io.open(path, 'rb')
  if f then f:close() return true end
  return false
end

-- Width and height in pixels from the EPS bounding box that ImageMagick writes (1 px = 1 pt).
local function eps_size(path)
  local f = io.open(path, 'r')
  if not f then return nil end
  for line in f:lines() do
    local w, h = line:match('^%%%%BoundingBox:%s*%-?%d+%s+%-?%d+%s+(%d+)%s+(%d+)')
    if w then f:close() return tonumber(w), tonumber(h) end
  end
  f:close()
  return nil
end

-- Height in inches of each figure placed, by its ms text.
figure_heights = {}

local function figure(img)
  local name = img.src:gsub('^screenshots/', '')
  local png = shots .. '/' .. name
  if not exists(png) then
    io.stderr:write('manual: screenshot ' .. name .. ' not found in docs/screenshots, left out\n')
    return {}
  end
  local eps = work .. '/' .. name:gsub('%.png$', '') .. '.eps'
  pandoc.pipe('convert', {png, '-compress', 'lzw', 'eps2:' .. eps}, '')
  local w = eps_size(eps) or 640
  -- Screen pixels at 96 per inch, never wider than the text.
  local width = math.min(w / 96.0, max_width_in)
  local caption = pandoc.utils.stringify(img.caption)
  local ms = string.format('.KS\n.PSPIC -C "%s" %.2fi\n.sp 0.3v\n', eps, width)
  if caption ~= '' then
    ms = ms .. '.ce 1\n\\fI' .. caption:gsub('\\', '\\[rs]') .. '\\fP\n'
  end
  ms = ms .. '.KE\n'
  local _, h = eps_size(eps)
  local block = pandoc.RawBlock('ms', ms)
  figure_heights[ms] = (h or 480) / w * width
  return block
end

function Para(para)
  if #para.content == 1 and para.content[1].t == 'Image' then
    return figure(para.content[1])
  end
end

-- A table stays on one page (tbl would otherwise leave its header alone at a page's foot).
function Table(tbl)
  return {pandoc.RawBlock('ms', '.KS'), tbl, pandoc.RawBlock('ms', '.KE')}
end

-- Every chapter after the first starts on a new page.
local chapters = 0
function Header(h)
  if h.level == 1 then
    chapters = chapters + 1
    if chapters > 1 then
      return {pandoc.RawBlock('ms', '.bp'), h}
    end
  end
end

-- A heading directly followed by a figure moves to the next page with it, rather than stay
-- alone at the foot of a page.
function Pandoc(doc)
  local blocks = {}
  for i, block in ipairs(doc.blocks) do
    local next_block = doc.blocks[i + 1]
    if block.t == 'Header' and next_block and next_block.t == 'RawBlock'
        and figure_heights[next_block.text] then
      table.insert(blocks, pandoc.RawBlock('ms',
        string.format('.ne %.2fi', figure_heights[next_block.text] + 0.8)))
    end
    table.insert(blocks, block)
  end
  doc.blocks = blocks
  return doc
end
