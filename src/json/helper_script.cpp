#include "json/helper_script.h"

namespace newsbar {

namespace {

// Written to the oldest JavaScript an engine may offer: var, function declarations,
// for / for-in, regular expressions. Type tests go through Object.prototype.toString so
// that arrays, boxed values and values from elsewhere are told apart alike. The
// toJSONString / parseJSON methods added to Object.prototype are enumerable, so every
// for-in here meets them: walks skip function members, the serialiser takes own members.
constexpr std::string_view kHelperScript = R"js(
function get__nodeValue(value, recursion) {
  var name, member, kind;
  for (name in value) {
    member = value[name];
    kind = Object.prototype.toString.call(member);
    if (kind == '[object Object]' || kind == '[object Array]') {
      if (recursion) {
        get__nodeValue(member, recursion);
      }
    } else if (kind == '[object String]' || kind == '[object Number]' ||
               kind == '[object Boolean]') {
      str_all.push(member);
    }
  }
  return str_all;
}

function get__count(value) {
  if (Object.prototype.toString.call(value) == '[object Array]') {
    return value.length;
  }
  return 0;
}

function get__name_All(value) {
  var names = [], name;
  if (Object.prototype.toString.call(value) != '[object Object]') {
    return '';
  }
  for (name in value) {
    if (typeof value[name] != 'function') {
      names.push(name);
    }
  }
  return names.join('\r\n');
}

function get__extend(target, source) {
  var name, kind, i;
  if (Object.prototype.toString.call(target) == '[object Array]') {
    if (source != null && typeof source.length == 'number') {
      for (i = 0; i < source.length; i++) {
        target.push(source[i]);
      }
    }
    return target;
  }
  for (name in source) {
    kind = typeof target[name];
    // A null member holds nothing to merge into: it takes the new value like an
    // absent one (walking into it would throw half-way through the merge).
    if (kind == 'string' || kind == 'boolean' || kind == 'number' ||
        kind == 'undefined' || target[name] === null) {
      target[name] = source[name];
    } else if (kind == 'object') {
      target[name] = get__extend(target[name], source[name]);
    }
  }
  return target;
}

if (typeof JSON != 'object' || JSON === null) {
  JSON = {};
}

(function () {
  var typeOf = function (value) {
    return Object.prototype.toString.call(value);
  };
  var hex4 = function (ch) {
    return '\\u' + ('0000' + ch.charCodeAt(0).toString(16)).slice(-4);
  };
  var two = function (n) {
    return n < 10 ? '0' + n : String(n);
  };

  if (typeof Date.prototype.toJSON != 'function') {
    Date.prototype.toJSON = function () {
      if (!isFinite(this.valueOf())) {
        return null;
      }
      return this.getUTCFullYear() + '-' + two(this.getUTCMonth() + 1) + '-' +
             two(this.getUTCDate()) + 'T' + two(this.getUTCHours()) + ':' +
             two(this.getUTCMinutes()) + ':' + two(this.getUTCSeconds()) + 'Z';
    };
    String.prototype.toJSON = Number.prototype.toJSON = Boolean.prototype.toJSON =
        function () {
          return this.valueOf();
        };
  }

  var escapable = /[\\\"\x00-\x1f\x7f-\x9f\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g;
  var unsafe = /[\u0000\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g;
  var shortEscape = function (ch) {
    switch (ch) {
      case '\b': return '\\b';
      case '\t': return '\\t';
      case '\n': return '\\n';
      case '\f': return '\\f';
      case '\r': return '\\r';
      case '"': return '\\"';
      case '\\': return '\\\\';
    }
    return hex4(ch);
  };
  var quote = function (text) {
    escapable.lastIndex = 0;
    if (!escapable.test(text)) {
      return '"' + text + '"';
    }
    return '"' + text.replace(escapable, shortEscape) + '"';
  };

  // The text of holder[key], or undefined when the value is not written at all.
  var write = function (holder, key, replacer, indent, outer) {
    var value = holder[key], inner, parts, i, name, item, kind, open, close;
    if (value && typeof value == 'object' && typeof value.toJSON == 'function') {
      value = value.toJSON(key);
    }
    if (typeof replacer == 'function') {
      value = replacer.call(holder, key, value);
    }
    kind = typeOf(value);
    if (typeof value == 'object' &&
        (kind == '[object String]' || kind == '[object Number]' || kind == '[object Boolean]')) {
      value = value.valueOf();
    }
    switch (typeof value) {
      case 'string':
        return quote(value);
      case 'number':
        return isFinite(value) ? String(value) : 'null';
      case 'boolean':
        return String(value);
      case 'object':
        break;
      default:
        return undefined;
    }
    if (value === null) {
      return 'null';
    }
    inner = outer + indent;
    parts = [];
    if (kind == '[object Array]') {
      for (i = 0; i < value.length; i++) {
        item = write(value, i, replacer, indent, inner);
        parts.push(item === undefined ? 'null' : item);
      }
      open = '[';
      close = ']';
    } else {
      if (replacer && typeof replacer == 'object') {
        for (i = 0; i < replacer.length; i++) {
          if (typeof replacer[i] == 'string') {
            name = replacer[i];
            item = write(value, name, replacer, indent, inner);
            if (item !== undefined) {
              parts.push(quote(name) + (indent ? ': ' : ':') + item);
            }
          }
        }
      } else {
        for (name in value) {
          if (Object.prototype.hasOwnProperty.call(value, name)) {
            item = write(value, name, replacer, indent, inner);
            if (item !== undefined) {
              parts.push(quote(name) + (indent ? ': ' : ':') + item);
            }
          }
        }
      }
      open = '{';
      close = '}';
    }
    if (parts.length == 0) {
      return open + close;
    }
    if (indent) {
      return open + '\n' + inner + parts.join(',\n' + inner) + '\n' + outer + close;
    }
    return open + parts.join(',') + close;
  };

  if (typeof JSON.stringify != 'function') {
    JSON.stringify = function (value, replacer, space) {
      var indent = '', i;
      if (typeof space == 'number') {
        for (i = 0; i < space; i++) {
          indent += ' ';
        }
      } else if (typeof space == 'string') {
        indent = space;
      }
      if (replacer && typeof replacer != 'function' &&
          (typeof replacer != 'object' || typeof replacer.length != 'number')) {
        throw new Error('JSON.stringify');
      }
      return write({'': value}, '', replacer, indent, '');
    };
  }

  // Members before their holder; a reviver result of undefined drops the member.
  var revive = function (holder, key, reviver) {
    var value = holder[key], name, result;
    if (value && typeof value == 'object') {
      for (name in value) {
        if (Object.prototype.hasOwnProperty.call(value, name)) {
          result = revive(value, name, reviver);
          if (result === undefined) {
            delete value[name];
          } else {
            value[name] = result;
          }
        }
      }
    }
    return reviver.call(holder, key, value);
  };

  if (typeof JSON.parse != 'function') {
    JSON.parse = function (text, reviver) {
      var rest, result;
      text = String(text);
      unsafe.lastIndex = 0;
      if (unsafe.test(text)) {
        text = text.replace(unsafe, hex4);
      }
      // What is left after removing escapes, plain values and opening brackets must be
      // punctuation only; then the text cannot call, assign or name anything.
      rest = text.replace(/\\(?:["\\\/bfnrt]|u[0-9a-fA-F]{4})/g, '@')
                 .replace(/"[^"\\\n\r]*"|true|false|null|-?\d+(?:\.\d*)?(?:[eE][+\-]?\d+)?/g, ']')
                 .replace(/(?:^|:|,)(?:\s*\[)+/g, '');
      if (!/^[\],:{}\s]*$/.test(rest)) {
        throw new SyntaxError('JSON.parse');
      }
      result = eval('(' + text + ')');
      if (typeof reviver == 'function') {
        return revive({'': result}, '', reviver);
      }
      return result;
    };
  }
})();

if (typeof Object.prototype.toJSONString == 'undefined') {
  Object.prototype.toJSONString = function (filter) {
    return JSON.stringify(this, filter);
  };
  Object.prototype.parseJSON = function (filter) {
    return JSON.parse(this, filter);
  };
}
)js";

}  // namespace

std::string_view HelperScript() {
  return kHelperScript;
}

}  // namespace newsbar
